#pragma once

#include <cstdint>
#include <string>

#include "host/proto/Common.pb.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The result of one agent task as the product reports it, with the task's identifiers taken back
// from the user data the module sent with the task.
struct TaskLogRecord {
    Zun::Common::DataDefinition::Common::Uuid FirstId;
    Zun::Common::DataDefinition::Common::Uuid ThirdId;
    Zun::Common::DataDefinition::Common::Uuid SecondId;
    int64_t Code = 0;
    std::string Message;
    uint32_t State = 0;
    uint32_t Severity = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
