#include "platform/CBroadcastWriter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/CNamedMutex.h"
#include "platform/CObjectNamespace.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

struct CBroadcastWriter::Objects {
    std::shared_ptr<CNamedMutex> mutex;
};

namespace {

// The area is built aside, under a name nobody can guess or plant first, and renamed into place,
// so a reader never maps half a header.
std::uint8_t* CreateArea(const std::string& path, std::size_t size, int& fd, std::string& temporary) {
    try {
        fd = CTrustedPath::CreateTemporary(path + ".new", temporary);
    } catch (const std::runtime_error&) {
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
    std::shared_ptr<CNamedMutex> mutex = CNamedMutex::Create(MutexName(localId, remoteId));
    if (mutex == nullptr || path.empty()) {
        return;
    }
    m_objects.reset(new Objects{mutex});
    int fd = -1;
    m_size = AreaSize(dataSize);
    m_view = OpenExistingArea(path, m_size);
    if (m_view != nullptr) {
        Lock();
        std::memset(m_view, 0, m_size);
        WriteHeader(dataSize);
        Unlock();
        return;
    }
    std::string temporary;
    m_view = CreateArea(path, m_size, fd, temporary);
    if (m_view == nullptr) {
        return;
    }
    WriteHeader(dataSize);
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

bool CBroadcastWriter::Lock() {
    if (m_objects == nullptr) {
        return false;
    }
    const DWORD result = m_objects->mutex->Wait(INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CBroadcastWriter::Unlock() {
    if (m_objects != nullptr) {
        m_objects->mutex->Release();
    }
}

}  // namespace Platform
}  // namespace Zun
