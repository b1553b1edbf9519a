#pragma once

#include <atomic>
#include <cstdint>

#include "platform/NtTypes.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

class CLpcWorkerPool;

// The state of the LPC client. Address is the integer type of an address in the port messages
// (data-information entries), the width of the product's process.
template <class Address>
class CPixlinkStructsNt {
protected:
    std::uint32_t m_localId = 0;
    std::uint32_t m_remoteId = 0;
    std::uint32_t m_flags = 0;
    std::atomic<Platform::HANDLE> m_port{nullptr};
    CLpcWorkerPool* m_workerPool = nullptr;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
