#pragma once

#include <vector>

#include "channel/CChannelResponse.h"
#include "messages/TaskLogRecord.h"

namespace Zun {
namespace Connectors {
namespace Common {

// At most one task result of the product per reply.
class CGetTaskStatusResponse : public CChannelResponse {
public:
    virtual std::vector<TaskLogRecord> GetTaskLogRecords() const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
