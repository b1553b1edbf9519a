#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Zun {
namespace Platform {

// The product's side of the broadcast area: creates the named area and its mutex, and writes the
// header, values, module table and module user data under the mutex.
class CBroadcastWriter {
public:
    struct ModuleEntry {
        std::uint32_t id;
        std::uint32_t userDataSize;
        std::uint32_t userDataOffset;
        std::uint32_t timestamp;
    };

    // localId and remoteId as the reading client's Init receives them. The header is written with
    // version 2 and the data right after it.
    CBroadcastWriter(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t dataSize);
    ~CBroadcastWriter();
    CBroadcastWriter(const CBroadcastWriter&) = delete;
    CBroadcastWriter& operator=(const CBroadcastWriter&) = delete;

    static std::string AreaName(std::uint32_t localId, std::uint32_t remoteId);
    static std::string MutexName(std::uint32_t localId, std::uint32_t remoteId);

    bool IsOpen() const { return m_view != nullptr; }
    // Holds the mutex until Unlock (writes inside take it again: it is recursive).
    bool Lock();
    void Unlock();

    // Offsets count from the start of the area (header included).
    bool WriteArea(std::size_t offset, const void* bytes, std::size_t size);
    // Offsets count from the start of the broadcast data.
    bool WriteData(std::size_t offset, const void* bytes, std::size_t size);
    bool WriteDword(std::size_t offset, std::uint32_t value);
    // Broadcast values 0 to 9.
    bool SetValue(unsigned index, std::uint32_t value);
    // The module table at tableOffset, its offset and its count.
    bool SetModuleTable(std::uint32_t tableOffset, const std::vector<ModuleEntry>& entries);

private:
    static std::size_t AreaSize(std::uint32_t dataSize);
    bool WriteHeader(std::uint32_t dataSize);

    // The platform's named mutex and section; the view is mapped only while both exist.
    struct Objects;
    std::unique_ptr<Objects> m_objects;
    std::uint8_t* m_view = nullptr;
    std::size_t m_size = 0;
};

}  // namespace Platform
}  // namespace Zun
