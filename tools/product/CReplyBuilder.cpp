#include "tools/product/CReplyBuilder.h"

#include <boost/locale/encoding_utf.hpp>
#include <cstdio>
#include <cstring>

#include "messages/Base64.h"
#include "tasks/CRecoveryDescrambler.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

void AppendWord(std::string& bytes, std::uint32_t word) {
    char raw[4];
    std::memcpy(raw, &word, 4);
    bytes.append(raw, 4);
}

template <typename T>
std::string OptionalAttribute(const char* name, const std::optional<T>& value) {
    if (!value) {
        return "";
    }
    if constexpr (std::is_same<T, std::string>::value) {
        return std::string(" ") + name + "=\"" + CReplyBuilder::Escape(*value) + "\"";
    } else {
        return std::string(" ") + name + "=\"" + std::to_string(*value) + "\"";
    }
}

}  // namespace

std::vector<std::uint8_t> CReplyBuilder::Payload(std::uint32_t status, const std::string& body) {
    std::string bytes;
    AppendWord(bytes, 12);
    AppendWord(bytes, status);
    AppendWord(bytes, static_cast<std::uint32_t>(body.size()));
    bytes += body;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string CReplyBuilder::Escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string CReplyBuilder::Attribute(const std::string& name, const std::string& value) {
    return " " + name + "=\"" + Escape(value) + "\"";
}

std::string CReplyBuilder::HexText(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string CReplyBuilder::LowerHexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return text;
}

std::string CReplyBuilder::StatusDocument(const std::vector<StatusEntry>& entries) {
    std::string document = std::string(kDeclaration) + "<VELM><SECTION NAME=\"PRODUCT\"><STATUS>";
    for (const StatusEntry& entry : entries) {
        document += "<RECORD" + Attribute("STATUS", HexText(entry.Status));
        for (const auto& field : {std::make_pair("CATEGORY_RES_ID", entry.CategoryResId),
                                  std::make_pair("STATUS_RES_ID", entry.StatusResId),
                                  std::make_pair("DESCRIPTION_RES_ID", entry.DescriptionResId)}) {
            if (field.second) {
                document += Attribute(field.first, HexText(static_cast<std::uint64_t>(*field.second)));
            }
        }
        document += " />";
    }
    return document + "</STATUS></SECTION></VELM>";
}

std::string CReplyBuilder::LicenceDocument(const std::vector<LicenceEntry>& entries) {
    std::string document = std::string(kDeclaration) +
                           "<VELM><SECTION NAME=\"PRODUCT\"><INFORMATION><GROUP NAME=\"LICENSEINFO\">";
    for (const LicenceEntry& entry : entries) {
        document += "<License" + Attribute("AssociatedSeatId", entry.AssociatedSeatId) +
                    Attribute("LicensePublicId", entry.LicensePublicId) +
                    Attribute("LicenseProductName", entry.LicenseProductName);
        // No expiration is the product's "FFFFFFFF"; dates travel as their low 32 bits in lower case,
        // so that one second before 1970 is not taken for that marker.
        document += Attribute("LicenseExpirationDate",
                              entry.LicenseExpirationDate
                                  ? LowerHexText(static_cast<std::uint32_t>(*entry.LicenseExpirationDate))
                                  : std::string("FFFFFFFF"));
        document += Attribute("ActivatedByZun", entry.ActivatedByZun ? "1" : "0");
        document += OptionalAttribute("ProductCode", entry.ProductCode) +
                    OptionalAttribute("SeatName", entry.SeatName) +
                    OptionalAttribute("LicenseRenewalPeriod", entry.LicenseRenewalPeriod) +
                    OptionalAttribute("LicenseType", entry.LicenseType) +
                    OptionalAttribute("LicenseFlags", entry.LicenseFlags) +
                    OptionalAttribute("LicenseModelType", entry.LicenseModelType) +
                    OptionalAttribute("LicenseModelStatus", entry.LicenseModelStatus) + " />";
    }
    return document + "</GROUP></INFORMATION></SECTION></VELM>";
}

std::string CReplyBuilder::Scramble(const std::string& secret) {
    return Connectors::Common::EncodeBase64(
        Connectors::Common::Tasks::CRecoveryDescrambler::Descramble(secret));
}

std::string CReplyBuilder::RecoveryDocument(const std::vector<RecoveryPasswordEntry>& passwords,
                                            const std::vector<RecoveryDataEntry>& data) {
    std::string document =
        std::string(kDeclaration) +
        "<VELM><MESSAGE VERSION=\"1\"><RESPONSE FUNCTION=\"GET_ENCRYPTION_RECOVERY_DATA\">";
    for (const RecoveryPasswordEntry& entry : passwords) {
        document += "<RECOVERY_PASSWORD" + Attribute("UID", entry.Uid) +
                    Attribute("DEVICEID", entry.DeviceId) + Attribute("INDEX", entry.Index) + ">" +
                    Scramble(entry.Secret) + "</RECOVERY_PASSWORD>";
    }
    for (const RecoveryDataEntry& entry : data) {
        document += "<RECOVERY_DATA" + Attribute("UID", entry.Uid) + Attribute("DEVICEID", entry.DeviceId) +
                    ">" + Scramble(entry.Secret) + "</RECOVERY_DATA>";
    }
    return document + "</RESPONSE></MESSAGE></VELM>";
}

std::string CReplyBuilder::TaskRecord(const TaskResult& result) {
    const std::u16string units = boost::locale::conv::utf_to_utf<char16_t>(result.UserData);
    std::string userData;
    for (const char16_t unit : units) {
        userData += static_cast<char>(unit & 0xFF);
        userData += static_cast<char>(unit >> 8);
    }
    userData.append(2, '\0');
    std::string record;
    AppendWord(record, static_cast<std::uint32_t>(12 + userData.size()));
    AppendWord(record, result.Result);
    AppendWord(record, 12);
    return record + userData;
}

std::string CReplyBuilder::CommandDocument(const std::string& function, std::uint32_t result) {
    return std::string(kDeclaration) + "<VELM><MESSAGE VERSION=\"1\"><RESPONSE" +
           Attribute("FUNCTION", function) + Attribute("RESULT", std::to_string(result)) +
           " /></MESSAGE></VELM>";
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
