#pragma once

#include <cstdint>

#include "ipc/CCriticalSection.h"
#include "platform/NtTypes.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The reader of the product's broadcast area that every client carries: opens the named area and
// its mutex on first use, keeps the area mapped, and reads from its data. An area whose header is
// gone after a read is closed and the read fails; the next read opens the area again.
class CPixlinkCommonNt {
public:
    CPixlinkCommonNt() = default;
    virtual ~CPixlinkCommonNt();
    CPixlinkCommonNt(const CPixlinkCommonNt&) = delete;
    CPixlinkCommonNt& operator=(const CPixlinkCommonNt&) = delete;

protected:
    // The ids in the client's order; the area's names put the remote id first.
    std::uint32_t ReadBroadcastArea(std::uint32_t localId, std::uint32_t remoteId, std::int64_t offset,
                                    void* destination, std::uint64_t size);
    std::uint32_t ReadBroadcastAreaDword(std::uint32_t localId, std::uint32_t remoteId, std::int64_t offset,
                                         std::uint32_t* value);
    void CloseBroadcast();
    CCriticalSection& Lock() { return m_lock; }

private:
    std::uint32_t OpenBroadcast(std::uint32_t localId, std::uint32_t remoteId);
    bool ValidateHeader();
    bool HeaderIntact() const;
    bool DataAreaWhole() const;
    // False, with the area closed, when the header read at open is no longer there or the view
    // no longer holds the whole data area.
    bool StillOpen();
    void UnmapAndClose();

    Platform::HANDLE m_mutex = nullptr;
    Platform::HANDLE m_section = nullptr;
    const std::uint8_t* m_view = nullptr;
    CCriticalSection m_lock;
    // Taken from the header once, when the area is opened, and checked against the mapped size, so
    // that a header changed afterwards cannot move a read outside the view.
    const std::uint8_t* m_data = nullptr;
    std::uint64_t m_dataSize = 0;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
