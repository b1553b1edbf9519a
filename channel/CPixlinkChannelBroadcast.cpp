// Broadcast reads of CPixlinkChannel: the plain values and the server module's value.
#include <stdexcept>

#include "channel/CPixlinkChannel.h"
#include "ipc/CBroadcastLayout.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

namespace {

// Layout offsets of the fields of module entry 0; entry i is 20 bytes further.
constexpr int64_t kEntryModuleId = 84;
constexpr int64_t kEntryUserDataSize = 88;
constexpr int64_t kEntryUserDataOffset = 92;
constexpr int64_t kEntryTimestamp = 96;
constexpr uint32_t kUnknownValue = 0xFFFFFFFF;
const char* const kModuleIdFailed = "CPixlinkChannel: Get module id broadcast failed";
const char* const kTimestampFailed = "CPixlinkChannel: Get user data timestamp broadcast failed";

}  // namespace

uint32_t CPixlinkChannel::GetBroadcast(uint32_t id) {
    bool decided;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        decided = m_modeDecided;
    }
    if (!decided) {
        std::string error;
        if (!Ping(error)) {
            throw std::runtime_error("CPixlinkChannel::GetBroadcast: " + error);
        }
    }
    if (id > QServerBroadcast) {
        throw std::runtime_error("CPixlinkChannel: Unknown broadcast was specified");
    }
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (id < QServerBroadcast) {
        return ReadDword(CBroadcastLayout::ValueOffset(id), "CPixlinkChannel: Get broadcast failed");
    }
    if (!m_serverModulePresent) {
        return kUnknownValue;
    }
    return ReadServerValue();
}

uint32_t CPixlinkChannel::ReadDword(int64_t offset, const char* failure) {
    IPixlinkClient* client = CurrentClient();
    uint32_t value = 0;
    if (client == nullptr || client->ReadBroadcastDword(offset, &value) != kResultSuccess) {
        throw std::runtime_error(failure);
    }
    return value;
}

int64_t CPixlinkChannel::ModuleField(int64_t index, int64_t field) {
    if (m_moduleTableOffset == 0) {
        m_moduleTableOffset = ReadDword(CBroadcastLayout::kModuleTableOffset,
                                        "CPixlinkChannel: Get first module offset broadcast failed");
    }
    return field + CBroadcastLayout::kModuleEntrySize * index - CBroadcastLayout::kLayoutTableOffset +
           m_moduleTableOffset;
}

// Called with the lock held. The value is re-read only when the server module's timestamp moved.
uint32_t CPixlinkChannel::ReadServerValue() {
    if (m_serverModuleIndex >= 0) {
        uint32_t timestamp;
        try {
            timestamp = ReadDword(ModuleField(m_serverModuleIndex, kEntryTimestamp), kTimestampFailed);
        } catch (const std::runtime_error&) {
            m_serverModuleIndex = -1;
            throw;
        }
        if (timestamp == m_userDataTimestamp) {
            return m_serverValue;
        }
        m_userDataTimestamp = timestamp;
        if (ReadDword(ModuleField(m_serverModuleIndex, kEntryModuleId), kModuleIdFailed) !=
            CBroadcastLayout::kServerModuleId) {
            m_serverModuleIndex = -1;
        }
    }
    if (m_serverModuleIndex < 0 && !FindServerModule()) {
        m_serverModulePresent = false;
        return kUnknownValue;
    }
    const uint32_t offset = ReadDword(ModuleField(m_serverModuleIndex, kEntryUserDataOffset),
                                      "CPixlinkChannel: Get user data offset broadcast failed");
    const uint32_t size = ReadDword(ModuleField(m_serverModuleIndex, kEntryUserDataSize),
                                    "CPixlinkChannel: Get user data size broadcast failed");
    if (size < 8) {
        m_serverModulePresent = false;
        throw std::runtime_error("CPixlinkChannel: serverPluginSize size is smaller than requested size");
    }
    uint8_t userData[8];
    if (CurrentClient()->ReadBroadcast(offset, userData, sizeof userData) != kResultSuccess) {
        throw std::runtime_error("CPixlinkChannel: Get QSERVER_BROADCAST failed");
    }
    m_serverValue = static_cast<uint32_t>(userData[4]) | static_cast<uint32_t>(userData[5]) << 8 |
                    static_cast<uint32_t>(userData[6]) << 16 | static_cast<uint32_t>(userData[7]) << 24;
    return m_serverValue;
}

// The count is signed: a negative one means no modules. A hostile count ends at the first entry
// that cannot be read, so the search stays bounded by the size of the area.
bool CPixlinkChannel::FindServerModule() {
    const int32_t count = static_cast<int32_t>(
        ReadDword(CBroadcastLayout::kModuleCount, "CPixlinkChannel: Get modules count broadcast failed"));
    for (int32_t i = 0; i < count; ++i) {
        if (ReadDword(ModuleField(i, kEntryModuleId), kModuleIdFailed) == CBroadcastLayout::kServerModuleId) {
            m_serverModuleIndex = static_cast<int32_t>(i);
            m_userDataTimestamp = ReadDword(ModuleField(i, kEntryTimestamp), kTimestampFailed);
            return true;
        }
    }
    return false;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
