#include "platform/CBroadcastWriter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "ipc/PixlinkProtocol.h"
#include "platform/CObjectNamespace.h"

namespace Zun {
namespace Platform {

namespace Pixlink = Connectors::Common::Pixlink;

namespace {

constexpr std::size_t kValueOffsets[] = {24, 28, 32, 36, 40, 52, 56, 60, 64, 68};
constexpr std::size_t kModuleTableOffsetField = 12;
constexpr std::size_t kModuleCountField = 20;
constexpr std::size_t kModuleEntrySize = 20;

std::string Name(const char* suffix, std::uint32_t localId, std::uint32_t remoteId) {
    char name[96];
    std::snprintf(name, sizeof(name), "Global\\PIXLINK%08XTo%08X%s", remoteId, localId, suffix);
    return name;
}

// The area is built aside and renamed into place, so a reader never maps half a header.
std::uint8_t* CreateArea(const std::string& path, std::size_t size, int& fd) {
    const std::string temporary = path + ".new" + std::to_string(getpid());
    fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return nullptr;
    }
    void* base = ftruncate(fd, static_cast<off_t>(size)) == 0
                     ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
    if (base == MAP_FAILED) {
        close(fd);
        unlink(temporary.c_str());
        return nullptr;
    }
    return static_cast<std::uint8_t*>(base);
}

// An area of the same size that readers may still have mapped is taken over rather than replaced,
// as a restarted product gets back the named mapping its readers keep alive.
std::uint8_t* OpenExistingArea(const std::string& path, std::size_t size) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    void* base = MAP_FAILED;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
        info.st_size == static_cast<off_t>(size)) {
        base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    return base == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(base);
}

}  // namespace

CBroadcastWriter::CBroadcastWriter(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t dataSize) {
    const std::string path = CObjectNamespace::PathOf(AreaName(localId, remoteId));
    m_mutex = CNamedMutex::Create(MutexName(localId, remoteId));
    if (m_mutex == nullptr || path.empty()) {
        return;
    }
    int fd = -1;
    m_size = Pixlink::kBroadcastHeaderSize + static_cast<std::size_t>(dataSize);
    m_view = OpenExistingArea(path, m_size);
    if (m_view != nullptr) {
        Lock();
        std::memset(m_view, 0, m_size);
        WriteHeader(dataSize);
        Unlock();
        return;
    }
    m_view = CreateArea(path, m_size, fd);
    if (m_view == nullptr) {
        return;
    }
    WriteHeader(dataSize);
    const std::string temporary = path + ".new" + std::to_string(getpid());
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        munmap(m_view, m_size);
        m_view = nullptr;
    }
    close(fd);
}

CBroadcastWriter::~CBroadcastWriter() {
    if (m_view != nullptr) {
        munmap(m_view, m_size);
    }
}

std::string CBroadcastWriter::AreaName(std::uint32_t localId, std::uint32_t remoteId) {
    return Name("Broadcast", localId, remoteId);
}

std::string CBroadcastWriter::MutexName(std::uint32_t localId, std::uint32_t remoteId) {
    return Name("BroadcastMutex", localId, remoteId);
}

bool CBroadcastWriter::WriteHeader(std::uint32_t dataSize) {
    const std::uint32_t header[8] = {Pixlink::kBroadcastHeaderSize,
                                     0,
                                     Pixlink::kMagicLow,
                                     Pixlink::kMagicHigh,
                                     Pixlink::kProtocolVersion,
                                     0,
                                     Pixlink::kBroadcastHeaderSize,
                                     dataSize};
    std::memcpy(m_view, header, sizeof(header));
    return true;
}

bool CBroadcastWriter::Lock() {
    if (m_mutex == nullptr) {
        return false;
    }
    const DWORD result = m_mutex->Wait(INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CBroadcastWriter::Unlock() {
    if (m_mutex != nullptr) {
        m_mutex->Release();
    }
}

bool CBroadcastWriter::WriteArea(std::size_t offset, const void* bytes, std::size_t size) {
    if (size == 0) {
        return m_view != nullptr && offset <= m_size;
    }
    if (m_view == nullptr || offset > m_size || size > m_size - offset || !Lock()) {
        return false;
    }
    std::memcpy(m_view + offset, bytes, size);
    Unlock();
    return true;
}

bool CBroadcastWriter::WriteData(std::size_t offset, const void* bytes, std::size_t size) {
    return WriteArea(Pixlink::kBroadcastHeaderSize + offset, bytes, size);
}

bool CBroadcastWriter::WriteDword(std::size_t offset, std::uint32_t value) {
    return WriteData(offset, &value, sizeof(value));
}

bool CBroadcastWriter::SetValue(unsigned index, std::uint32_t value) {
    return index < sizeof(kValueOffsets) / sizeof(kValueOffsets[0]) &&
           WriteDword(kValueOffsets[index], value);
}

bool CBroadcastWriter::SetModuleTable(std::uint32_t tableOffset, const std::vector<ModuleEntry>& entries) {
    if (!Lock()) {
        return false;
    }
    bool written = WriteDword(kModuleTableOffsetField, tableOffset) &&
                   WriteDword(kModuleCountField, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; written && i < entries.size(); ++i) {
        const std::uint32_t entry[5] = {entries[i].id, entries[i].userDataSize, entries[i].userDataOffset,
                                        entries[i].timestamp, 0};
        written = WriteData(tableOffset + kModuleEntrySize * i, entry, sizeof(entry));
    }
    Unlock();
    return written;
}

}  // namespace Platform
}  // namespace Zun
