#include "messages/pixlink/CGetEncryptionRecoveryDataResponse.h"

#include <boost/property_tree/ptree.hpp>

#include "messages/pixlink/ReplyDocument.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

void CGetEncryptionRecoveryDataResponse::Deserialize(const std::vector<uint8_t>& payload) {
    const boost::property_tree::ptree document = ParseReplyDocument(ReadReplyBody(payload));
    for (const auto& child : document.get_child("VELM.MESSAGE.RESPONSE")) {
        if (child.first == "RECOVERY_PASSWORD") {
            m_set.RecoveryPasswords.push_back(ParsePassword(child.second));
        } else if (child.first == "RECOVERY_DATA") {
            m_set.RecoveryData.push_back(ParseData(child.second));
        }
    }
}

RecoveryPasswordRecord CGetEncryptionRecoveryDataResponse::ParsePassword(
    const boost::property_tree::ptree& element) {
    RecoveryPasswordRecord record;
    record.Uid = element.get<std::string>("<xmlattr>.UID");
    record.DeviceId = element.get<std::string>("<xmlattr>.DEVICEID");
    record.Index = element.get<std::string>("<xmlattr>.INDEX");
    record.Value = element.data();
    return record;
}

RecoveryDataRecord CGetEncryptionRecoveryDataResponse::ParseData(const boost::property_tree::ptree& element) {
    RecoveryDataRecord record;
    record.Uid = element.get<std::string>("<xmlattr>.UID");
    record.DeviceId = element.get<std::string>("<xmlattr>.DEVICEID");
    record.Value = element.data();
    return record;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
