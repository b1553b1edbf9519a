#include "messages/pixlink/CGetEncryptionRecoveryDataResponse.h"

#include <boost/property_tree/ptree.hpp>

#include "messages/pixlink/ReplyDocument.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

const std::string UidKey = "UID";
const std::string DeviceIdKey = "DEVICEID";
const std::string IndexKey = "INDEX";

}  // namespace

void CGetEncryptionRecoveryDataResponse::Deserialize(const std::vector<uint8_t>& payload) {
    boost::property_tree::ptree document = ParseReplyDocument(ReadReplyBody(payload));
    for (auto& child : document.get_child("VELM.MESSAGE.RESPONSE")) {
        if (child.first == "RECOVERY_PASSWORD") {
            m_set.RecoveryPasswords.push_back(ParsePassword(child.second));
        } else if (child.first == "RECOVERY_DATA") {
            m_set.RecoveryData.push_back(ParseData(child.second));
        }
    }
}

// The tree is discarded after the parse, so texts are moved out of it rather than copied.
RecoveryPasswordRecord CGetEncryptionRecoveryDataResponse::ParsePassword(
    boost::property_tree::ptree& element) {
    const CReplyAttributes attributes(element);
    RecoveryPasswordRecord record;
    record.Uid = std::move(attributes.Required(UidKey));
    record.DeviceId = std::move(attributes.Required(DeviceIdKey));
    record.Index = std::move(attributes.Required(IndexKey));
    record.Value = std::move(element.data());
    return record;
}

RecoveryDataRecord CGetEncryptionRecoveryDataResponse::ParseData(boost::property_tree::ptree& element) {
    const CReplyAttributes attributes(element);
    RecoveryDataRecord record;
    record.Uid = std::move(attributes.Required(UidKey));
    record.DeviceId = std::move(attributes.Required(DeviceIdKey));
    record.Value = std::move(element.data());
    return record;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
