#include "ipc/CPixlinkCommonNt.h"

#include <cstring>
#include <mutex>

#include "ipc/CKernel32.h"
#include "ipc/CObjectName.h"
#include "platform/DirectImports.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

using namespace Platform;

namespace {

constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTANT_QUERY_STATE;
constexpr char kGlobalPrefix[] = "Global\\";

std::uint32_t DwordAt(const std::uint8_t* bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

}  // namespace

CPixlinkCommonNt::~CPixlinkCommonNt() {
    CloseBroadcast();
}

std::uint32_t CPixlinkCommonNt::OpenBroadcast(std::uint32_t localId, std::uint32_t remoteId) {
    WCHAR name[CObjectName::kCapacity];
    CObjectName::Format(name, kGlobalPrefix, remoteId, localId, "BroadcastMutex");
    m_mutex = OpenMutexW(kMutexAccess, 0, name);
    if (m_mutex != nullptr) {
        CObjectName::Format(name, kGlobalPrefix, remoteId, localId, "Broadcast");
        m_section = OpenFileMappingW(FILE_MAP_READ, 0, name);
    }
    if (m_section != nullptr) {
        m_view = static_cast<const std::uint8_t*>(MapViewOfFile(m_section, FILE_MAP_READ, 0, 0, 0));
    }
    if (m_view == nullptr || !ValidateHeader()) {
        UnmapAndClose();
        return kResultOpenFailed;
    }
    return kResultSuccess;
}

bool CPixlinkCommonNt::ValidateHeader() {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(m_view, &region, sizeof(region)) != sizeof(region) ||
        region.RegionSize < kBroadcastHeaderSize) {
        return false;
    }
    if (!HeaderIntact()) {
        return false;
    }
    const std::uint64_t dataOffset = DwordAt(m_view, kBroadcastDataOffsetOffset);
    const std::uint64_t dataSize = DwordAt(m_view, kBroadcastDataSizeOffset);
    if (dataOffset > region.RegionSize || dataSize > region.RegionSize - dataOffset) {
        return false;
    }
    m_data = m_view + dataOffset;
    m_dataSize = dataSize;
    return true;
}

bool CPixlinkCommonNt::HeaderIntact() const {
    return DwordAt(m_view, 0) == kBroadcastHeaderSize &&
           DwordAt(m_view, kBroadcastMagicOffset) == kMagicLow &&
           DwordAt(m_view, kBroadcastMagicOffset + 4) == kMagicHigh &&
           DwordAt(m_view, kBroadcastVersionOffset) == kProtocolVersion;
}

// Checked after every read: a view whose file was cut under it reads as zeros from the fault on
// (see CViewGuard), and so does a header the product has wiped. A cut inside the view's last page
// faults nothing and leaves the header in place, so the view's size is asked as well: it must
// still hold the whole data area. Either way the area that was opened is gone; what was just read
// is not trusted, and the next read opens the area anew, which finds a restarted product's new
// area.
bool CPixlinkCommonNt::StillOpen() {
    if (HeaderIntact() && DataAreaWhole()) {
        return true;
    }
    CloseBroadcast();
    return false;
}

bool CPixlinkCommonNt::DataAreaWhole() const {
    MEMORY_BASIC_INFORMATION region;
    return VirtualQuery(m_view, &region, sizeof(region)) == sizeof(region) &&
           region.RegionSize >= static_cast<SIZE_T>(m_data - m_view) + m_dataSize;
}

void CPixlinkCommonNt::UnmapAndClose() {
    if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
    }
    if (m_section != nullptr) {
        CKernel32::CloseHandle(m_section);
    }
    if (m_mutex != nullptr) {
        CKernel32::CloseHandle(m_mutex);
    }
    m_view = nullptr;
    m_section = nullptr;
    m_mutex = nullptr;
    m_data = nullptr;
    m_dataSize = 0;
}

void CPixlinkCommonNt::CloseBroadcast() {
    std::lock_guard<CCriticalSection> guard(m_lock);
    UnmapAndClose();
}

std::uint32_t CPixlinkCommonNt::ReadBroadcastArea(std::uint32_t localId, std::uint32_t remoteId,
                                                  std::int64_t offset, void* destination,
                                                  std::uint64_t size) {
    if (m_view == nullptr && OpenBroadcast(localId, remoteId) != kResultSuccess) {
        return kResultFailure;
    }
    const DWORD wait = WaitForSingleObject(m_mutex, kBroadcastMutexWaitMs);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        return kResultFailure;
    }
    std::uint32_t result = kResultFailure;
    if (m_view != nullptr && offset >= 0 && size <= m_dataSize &&
        static_cast<std::uint64_t>(offset) <= m_dataSize - size) {
        if (size > 0) {
            std::memcpy(destination, m_data + offset, static_cast<std::size_t>(size));
        }
        result = kResultSuccess;
    }
    ReleaseMutex(m_mutex);
    if (!StillOpen()) {
        return kResultFailure;
    }
    return result;
}

std::uint32_t CPixlinkCommonNt::ReadBroadcastAreaDword(std::uint32_t localId, std::uint32_t remoteId,
                                                       std::int64_t offset, std::uint32_t* value) {
    if (m_view == nullptr && OpenBroadcast(localId, remoteId) != kResultSuccess) {
        return kResultFailure;
    }
    if (offset < 0 || m_dataSize < 4 || static_cast<std::uint64_t>(offset) > m_dataSize - 4) {
        return kResultNotSupported;
    }
    // The product writes while we read: one aligned 32-bit load sees either the old or the new value.
    const std::uint32_t read = DwordAt(m_data, static_cast<std::size_t>(offset));
    if (!StillOpen()) {
        return kResultFailure;
    }
    *value = read;
    return kResultSuccess;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
