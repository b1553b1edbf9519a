#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages/CGetTaskStatusResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Parses the binary task-status record: a header of three 32-bit words (unused, result, offset of
// the user data) and the task's user data as UTF-16 text.
class CGetTaskStatusResponse : public ::Zun::Connectors::Common::CGetTaskStatusResponse {
public:
    void Deserialize(const std::vector<uint8_t>& payload) override;
    std::vector<TaskLogRecord> GetTaskLogRecords() const override { return m_records; }

private:
    static std::string ReadUserData(const std::vector<uint8_t>& payload, uint64_t offset);
    static void SetIdentifiers(TaskLogRecord& record, const std::string& userData);
    static void SetResult(TaskLogRecord& record, uint32_t result);

    std::vector<TaskLogRecord> m_records;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
