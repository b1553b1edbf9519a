#include "platform/CBroadcastWriter.h"

#include <cstdio>
#include <cstring>

#include "platform/PixlinkProtocol.h"

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

}  // namespace

std::size_t CBroadcastWriter::AreaSize(std::uint32_t dataSize) {
    return Pixlink::kBroadcastHeaderSize + static_cast<std::size_t>(dataSize);
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
