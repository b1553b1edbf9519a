#include "messages/pixlink/CGetStatusResponse.h"

#include <array>
#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "messages/pixlink/AttributeNumbers.h"
#include "messages/pixlink/ReplyDocument.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

const uint32_t StatusWithoutDetails = 0xFFFFFFFF;

const std::string StatusKey = "STATUS";
const std::string CategoryResIdKey = "CATEGORY_RES_ID";
const std::string StatusResIdKey = "STATUS_RES_ID";
const std::string DescriptionResIdKey = "DESCRIPTION_RES_ID";
const std::array<const std::string*, 4> RecordKeys = {&StatusKey, &CategoryResIdKey, &StatusResIdKey,
                                                      &DescriptionResIdKey};

struct StatusMeaning {
    int64_t Level;
    int64_t TextId;
};

StatusMeaning Meaning(uint32_t status) {
    switch (status) {
        case 0:
            return {1, 0x071000000000021eLL};
        case 1:
            return {3, 0x071000000000021fLL};
        case 2:
            return {5, 0x0710000000000220LL};
        default:
            throw std::runtime_error("Unknown protection status");
    }
}

}  // namespace

void CGetStatusResponse::Deserialize(const std::vector<uint8_t>& payload) {
    m_document = ReadReplyBody(payload);
    boost::property_tree::ptree document = ParseReplyDocument(m_document);
    for (auto& child : document.get_child("VELM.SECTION.STATUS")) {
        if (child.first == "RECORD") {
            m_records.push_back(ParseRecord(child.second));
        }
    }
}

ProtectionStatusRecord CGetStatusResponse::ParseRecord(boost::property_tree::ptree& record) {
    const CReplyAttributes attributes(record);
    const auto found = attributes.Find(RecordKeys);
    ProtectionStatusRecord parsed;
    parsed.Status = ParseHexUInt32(attributes.Required(found[0], StatusKey));
    if (parsed.Status == StatusWithoutDetails) {
        return parsed;
    }
    const StatusMeaning meaning = Meaning(parsed.Status);
    parsed.Level = meaning.Level;
    parsed.StatusTextId = meaning.TextId;
    parsed.CategoryResId = ParseHexInt64(attributes.Required(found[1], CategoryResIdKey));
    parsed.StatusResId = ParseHexInt64(attributes.Required(found[2], StatusResIdKey));
    if (const std::string* const description = found[3]) {
        parsed.DescriptionResId = ParseHexInt64(*description);
    }
    return parsed;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
