#pragma once

#include "host/CTask.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// Agent task: block a user's encryption password.
class CBlockFDELogin : public CTask {
public:
    static constexpr Kernel::MessageType Type = 723;
    CBlockFDELogin() : CTask(Type, "BlockFDELogin") {}
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
