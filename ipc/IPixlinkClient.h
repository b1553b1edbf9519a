#pragma once

#include <cstdint>

#include "ipc/CPixlinkGrowableBuffer.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// A client of the product's request port and reader of its broadcast area. No operation throws:
// each returns a result code (see PixlinkProtocol.h) or the product's own result word.
class IPixlinkClient {
public:
    virtual ~IPixlinkClient() = default;
    // Stores the endpoint ids and flags; connecting is left to the first request.
    virtual std::uint32_t Init(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t flags) = 0;
    virtual std::uint32_t Close() = 0;
    virtual std::uint32_t RequestToBuffer(std::uint32_t requestFlags, std::uint32_t messageType,
                                          const void* request, std::uint64_t requestLength,
                                          CPixlinkGrowableBuffer* reply, std::int64_t timeout) = 0;
    virtual std::uint32_t Request(std::uint32_t requestFlags, std::uint32_t messageType, const void* request,
                                  std::uint64_t requestLength, void* reply, std::uint64_t replyCapacity,
                                  std::uint64_t* replyLength, std::int64_t timeout) = 0;
    virtual std::uint32_t ReadBroadcast(std::int64_t offset, void* destination, std::uint64_t size) = 0;
    virtual std::uint32_t ReadBroadcastDword(std::int64_t offset, std::uint32_t* value) = 0;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
