#pragma once

#include "host/CTask.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// Agent task: invalidate a user's encryption password.
class CInvalidateFDELogin : public CTask {
public:
    static constexpr Kernel::MessageType Type = 721;
    CInvalidateFDELogin() : CTask(Type, "InvalidateFDELogin") {}
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
