#include "tools/product/CReplyBuilder.h"

#include <algorithm>
#include <boost/locale/encoding_utf.hpp>
#include <charconv>
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

// Documents are built by appending in place: the get-status answer is on every request's path.
void AppendEscaped(std::string& document, const std::string& text) {
    for (const char c : text) {
        switch (c) {
            case '&':
                document += "&amp;";
                break;
            case '<':
                document += "&lt;";
                break;
            case '>':
                document += "&gt;";
                break;
            case '"':
                document += "&quot;";
                break;
            case '\'':
                document += "&apos;";
                break;
            default:
                document += c;
        }
    }
}

void AppendName(std::string& document, const char* name) {
    document += ' ';
    document += name;
    document += "=\"";
}

void AppendAttribute(std::string& document, const char* name, const std::string& value) {
    AppendName(document, name);
    AppendEscaped(document, value);
    document += '"';
}

void AppendHexAttribute(std::string& document, const char* name, std::uint64_t value, bool upper) {
    char text[24];
    char* const end = std::to_chars(text, text + sizeof(text), value, 16).ptr;
    if (upper) {
        std::transform(text, end, text,
                       [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
    }
    AppendName(document, name);
    document.append(text, end);
    document += '"';
}

template <typename T>
void AppendOptional(std::string& document, const char* name, const std::optional<T>& value) {
    if (!value) {
        return;
    }
    if constexpr (std::is_same<T, std::string>::value) {
        AppendAttribute(document, name, *value);
    } else {
        AppendAttribute(document, name, std::to_string(*value));
    }
}

}  // namespace

std::vector<std::uint8_t> CReplyBuilder::Payload(std::uint32_t status, const std::string& body) {
    std::vector<std::uint8_t> bytes(12 + body.size());
    const std::uint32_t header[3] = {12, status, static_cast<std::uint32_t>(body.size())};
    std::memcpy(bytes.data(), header, sizeof(header));
    std::memcpy(bytes.data() + sizeof(header), body.data(), body.size());
    return bytes;
}

std::string CReplyBuilder::Escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    AppendEscaped(escaped, text);
    return escaped;
}

std::string CReplyBuilder::StatusDocument(const std::vector<StatusEntry>& entries) {
    std::string document = kDeclaration;
    document.reserve(128 + 96 * entries.size());
    document += "<VELM><SECTION NAME=\"PRODUCT\"><STATUS>";
    for (const StatusEntry& entry : entries) {
        document += "<RECORD";
        AppendHexAttribute(document, "STATUS", entry.Status, true);
        for (const auto& field : {std::make_pair("CATEGORY_RES_ID", entry.CategoryResId),
                                  std::make_pair("STATUS_RES_ID", entry.StatusResId),
                                  std::make_pair("DESCRIPTION_RES_ID", entry.DescriptionResId)}) {
            if (field.second) {
                AppendHexAttribute(document, field.first, static_cast<std::uint64_t>(*field.second), true);
            }
        }
        document += " />";
    }
    return document + "</STATUS></SECTION></VELM>";
}

std::string CReplyBuilder::LicenceDocument(const std::vector<LicenceEntry>& entries) {
    std::string document = kDeclaration;
    document.reserve(128 + 256 * entries.size());
    document += "<VELM><SECTION NAME=\"PRODUCT\"><INFORMATION><GROUP NAME=\"LICENSEINFO\">";
    for (const LicenceEntry& entry : entries) {
        document += "<License";
        AppendAttribute(document, "AssociatedSeatId", entry.AssociatedSeatId);
        AppendAttribute(document, "LicensePublicId", entry.LicensePublicId);
        AppendAttribute(document, "LicenseProductName", entry.LicenseProductName);
        // No expiration is the product's "FFFFFFFF"; dates travel as their low 32 bits in lower case,
        // so that one second before 1970 is not taken for that marker.
        if (entry.LicenseExpirationDate) {
            AppendHexAttribute(document, "LicenseExpirationDate",
                               static_cast<std::uint32_t>(*entry.LicenseExpirationDate), false);
        } else {
            AppendAttribute(document, "LicenseExpirationDate", "FFFFFFFF");
        }
        AppendAttribute(document, "ActivatedByZun", entry.ActivatedByZun ? "1" : "0");
        AppendOptional(document, "ProductCode", entry.ProductCode);
        AppendOptional(document, "SeatName", entry.SeatName);
        AppendOptional(document, "LicenseRenewalPeriod", entry.LicenseRenewalPeriod);
        AppendOptional(document, "LicenseType", entry.LicenseType);
        AppendOptional(document, "LicenseFlags", entry.LicenseFlags);
        AppendOptional(document, "LicenseModelType", entry.LicenseModelType);
        AppendOptional(document, "LicenseModelStatus", entry.LicenseModelStatus);
        document += " />";
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
        document += "<RECOVERY_PASSWORD";
        AppendAttribute(document, "UID", entry.Uid);
        AppendAttribute(document, "DEVICEID", entry.DeviceId);
        AppendAttribute(document, "INDEX", entry.Index);
        document += ">" + Scramble(entry.Secret) + "</RECOVERY_PASSWORD>";
    }
    for (const RecoveryDataEntry& entry : data) {
        document += "<RECOVERY_DATA";
        AppendAttribute(document, "UID", entry.Uid);
        AppendAttribute(document, "DEVICEID", entry.DeviceId);
        document += ">" + Scramble(entry.Secret) + "</RECOVERY_DATA>";
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
    std::string document = std::string(kDeclaration) + "<VELM><MESSAGE VERSION=\"1\"><RESPONSE";
    AppendAttribute(document, "FUNCTION", function);
    AppendAttribute(document, "RESULT", std::to_string(result));
    return document + " /></MESSAGE></VELM>";
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
