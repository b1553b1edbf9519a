#pragma once

#include "host/CTask.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {
namespace Task {

// Agent task: switch the product's maintenance mode off.
class CDisableFDEMaintenanceMode : public CTask {
public:
    static constexpr Kernel::MessageType Type = 741;
    CDisableFDEMaintenanceMode() : CTask(Type, "DisableFDEMaintenanceMode") {}
};

}  // namespace Task
}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
