#include "messages/pixlink/CGetTaskStatusResponse.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <stdexcept>

#include "channel/CPixlinkChannelBuffer.h"
#include "messages/pixlink/Utf16Text.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

void CGetTaskStatusResponse::Deserialize(const std::vector<uint8_t>& payload) {
    CPixlinkChannelBuffer reader;
    reader.Bytes().assign(payload.begin(), payload.end());
    reader.ReadUInt32();
    reader.ReadUInt32();
    if (reader.ReadUInt32() == 0) {
        return;
    }
    // The user-data offset counts from the record header, not from the payload.
    const uint64_t recordStart = reader.GetPosition();
    reader.ReadUInt32();
    const uint32_t result = reader.ReadUInt32();
    const uint64_t userDataOffset = recordStart + reader.ReadUInt32();

    TaskLogRecord record;
    SetIdentifiers(record, ReadUserData(reader.Bytes(), userDataOffset));
    SetResult(record, result);
    m_records.push_back(record);
}

// The text runs to its first zero unit or to the end of the payload, whichever comes first.
std::string CGetTaskStatusResponse::ReadUserData(const std::vector<uint8_t>& payload, uint64_t offset) {
    if (offset > payload.size()) {
        throw std::runtime_error("PixlinkChannelBuffer: Buffer is not full enough");
    }
    std::vector<uint16_t> units;
    for (size_t at = static_cast<size_t>(offset); payload.size() - at >= 2; at += 2) {
        const uint16_t unit = static_cast<uint16_t>(payload[at] | payload[at + 1] << 8);
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    return ConvertUtf16ToUtf8(units.data(), units.size());
}

void CGetTaskStatusResponse::SetIdentifiers(TaskLogRecord& record, const std::string& userData) {
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, userData, boost::algorithm::is_any_of(";, "));
    if (pieces.size() != 3) {
        throw std::runtime_error("Task log: Log record has badly formated uuids in user data");
    }
    record.FirstId.set_uuid(pieces[0]);
    record.SecondId.set_uuid(pieces[1]);
    record.ThirdId.set_uuid(pieces[2]);
}

void CGetTaskStatusResponse::SetResult(TaskLogRecord& record, uint32_t result) {
    switch (result) {
        case 0:
            record.Code = 0x000000010000000ALL;
            record.State = 20;
            record.Severity = 1;
            break;
        case 1:
            record.Code = 0x000000010000000BLL;
            record.State = 30;
            record.Severity = 1;
            break;
        default:
            record.Code = 0x000000010000000CLL;
            record.State = 40;
            record.Severity = 4;
            record.Message = "Task failed";
            break;
    }
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
