#pragma once

#include "host/CTask.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// Agent task: wipe a user's encryption password.
class CWipeFDELogin : public CTask {
public:
    static constexpr Kernel::MessageType Type = 722;
    CWipeFDELogin() : CTask(Type, "WipeFDELogin") {}
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
