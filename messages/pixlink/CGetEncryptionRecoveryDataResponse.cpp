#include "messages/pixlink/CGetEncryptionRecoveryDataResponse.h"

#include <array>
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
const std::array<const std::string*, 3> PasswordKeys = {&UidKey, &DeviceIdKey, &IndexKey};
const std::array<const std::string*, 2> DataKeys = {&UidKey, &DeviceIdKey};

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
    const auto found = attributes.Find(PasswordKeys);
    RecoveryPasswordRecord record;
    record.Uid = std::move(attributes.Required(found[0], UidKey));
    record.DeviceId = std::move(attributes.Required(found[1], DeviceIdKey));
    record.Index = std::move(attributes.Required(found[2], IndexKey));
    record.Value = std::move(element.data());
    return record;
}

RecoveryDataRecord CGetEncryptionRecoveryDataResponse::ParseData(boost::property_tree::ptree& element) {
    const CReplyAttributes attributes(element);
    const auto found = attributes.Find(DataKeys);
    RecoveryDataRecord record;
    record.Uid = std::move(attributes.Required(found[0], UidKey));
    record.DeviceId = std::move(attributes.Required(found[1], DeviceIdKey));
    record.Value = std::move(element.data());
    return record;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
