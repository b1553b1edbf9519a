#pragma once

#include <cstdint>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// What the product watchdog needs of the channel: a ping, broadcast values, and the values it saw
// last time, kept with the channel so that they survive reconnects.
class IWatchedChannel {
public:
    virtual ~IWatchedChannel() = default;
    // Appends what failed to `error`.
    virtual bool PingProduct(std::string& error) = 0;
    // Throws std::runtime_error when the value cannot be read.
    virtual uint32_t ReadBroadcast(uint32_t id) = 0;
    // An id seen for the first time reads as 0xFFFFFFFF.
    virtual uint32_t GetLastValue(uint32_t id) = 0;
    virtual void SetLastValue(uint32_t id, uint32_t value) = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
