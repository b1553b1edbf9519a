#include "messages/pixlink/CGetLicenseResponse.h"

#include <algorithm>
#include <array>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>
#include <locale>

#include "messages/pixlink/AttributeNumbers.h"
#include "messages/pixlink/ReplyDocument.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

typedef boost::property_tree::ptree Tree;
typedef ::Zun::Common::DataDefinition::Common::UTCTime UTCTime;

const std::string GroupName = "NAME";

// The attributes of a License element, all found in one pass.
enum LicenseAttribute {
    ActivatedByZun,
    LicenseProductName,
    LicensePublicId,
    AssociatedSeatId,
    LicenseExpirationDate,
    ProductCode,
    LicenseRenewalPeriod,
    LicenseFlags,
    SeatName,
    LicenseType,
    LicenseModelType,
    LicenseModelStatus,
    LicenseAttributeCount
};

const std::string LicenseAttributeNames[LicenseAttributeCount] = {
    "ActivatedByZun",       "LicenseProductName",    "LicensePublicId",
    "AssociatedSeatId",     "LicenseExpirationDate", "ProductCode",
    "LicenseRenewalPeriod", "LicenseFlags",          "SeatName",
    "LicenseType",          "LicenseModelType",      "LicenseModelStatus"};

std::array<const std::string*, LicenseAttributeCount> LicenseAttributeKeys() {
    std::array<const std::string*, LicenseAttributeCount> keys;
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i] = &LicenseAttributeNames[i];
    }
    return keys;
}

// "FFFFFFFF" marks a licence that never expires; the product writes other dates as the low 32 bits
// of a hexadecimal number of seconds since 1970, and dates in 1970 or 9999 mean "no date" as well.
std::optional<UTCTime> ExpirationDate(const std::string* text) {
    if (text == nullptr || *text == "FFFFFFFF") {
        return std::nullopt;
    }
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    const int32_t seconds = static_cast<int32_t>(static_cast<uint32_t>(ParseHexUInt64(*text)));
    const boost::posix_time::ptime instant = epoch + boost::posix_time::seconds(seconds);
    const boost::gregorian::date day = instant.date();
    if (day.year() == 1970 || day.year() == 9999) {
        return std::nullopt;
    }
    const boost::posix_time::time_duration time = instant.time_of_day();
    UTCTime date;
    date.set_year(day.year());
    date.set_month(day.month());
    date.set_day(day.day());
    date.set_hour(static_cast<int32_t>(time.hours()));
    date.set_minute(static_cast<int32_t>(time.minutes()));
    date.set_second(static_cast<int32_t>(time.seconds()));
    return date;
}

std::optional<int64_t> Decimal(const std::string* text) {
    return text ? ParseDecimalInt64(*text) : std::nullopt;
}

std::optional<std::string> Text(std::string* text) {
    return text ? std::optional<std::string>(std::move(*text)) : std::nullopt;
}

// Leading and trailing white space removed, white space as the given classification has it.
std::optional<std::string> Trimmed(std::string* text, const std::ctype<char>& classes) {
    if (text == nullptr) {
        return std::nullopt;
    }
    const auto isSpace = [&](char c) { return classes.is(std::ctype_base::space, c); };
    const auto first = std::find_if_not(text->begin(), text->end(), isSpace);
    const auto last = std::find_if_not(text->rbegin(), std::string::reverse_iterator(first), isSpace).base();
    if (first == text->begin() && last == text->end()) {
        return std::optional<std::string>(std::move(*text));
    }
    return std::optional<std::string>(std::string(first, last));
}

}  // namespace

void CGetLicenseResponse::Deserialize(const std::vector<uint8_t>& payload) {
    m_document = ReadReplyBody(payload);
    Tree document = ParseReplyDocument(m_document);
    // White space for trimming is the global locale's, taken once per reply rather than per text.
    const std::locale locale;
    const std::ctype<char>& classes = std::use_facet<std::ctype<char>>(locale);
    for (auto& child : document.get_child("VELM.SECTION.INFORMATION")) {
        if (child.first == "GROUP" && CReplyAttributes(child.second).Required(GroupName) == "LICENSEINFO") {
            ParseGroup(child.second, classes);
        }
    }
}

void CGetLicenseResponse::ParseGroup(Tree& group, const std::ctype<char>& classes) {
    for (auto& child : group) {
        if (child.first == "License") {
            m_records.push_back(ParseLicense(child.second, classes));
        }
    }
}

// The tree is discarded after the parse, so texts are moved out of it rather than copied.
LicenseRecord CGetLicenseResponse::ParseLicense(Tree& license, const std::ctype<char>& classes) {
    static const std::array<const std::string*, LicenseAttributeCount> keys = LicenseAttributeKeys();
    const CReplyAttributes attributes(license);
    const auto found = attributes.Find(keys);
    const auto required = [&](LicenseAttribute which) -> std::string& {
        return attributes.Required(found[which], LicenseAttributeNames[which]);
    };
    LicenseRecord record;
    record.ActivatedBy = required(ActivatedByZun) == "1";
    record.LicenseProductName = std::move(required(LicenseProductName));
    record.LicensePublicId = std::move(required(LicensePublicId));
    record.AssociatedSeatId = std::move(required(AssociatedSeatId));
    record.LicenseExpirationDate = ExpirationDate(found[LicenseExpirationDate]);
    record.ProductCode = Decimal(found[ProductCode]);
    record.LicenseRenewalPeriod = Decimal(found[LicenseRenewalPeriod]);
    record.LicenseFlags = Decimal(found[LicenseFlags]);
    record.SeatName = Text(found[SeatName]);
    record.LicenseType = Trimmed(found[LicenseType], classes);
    record.LicenseModelType = Trimmed(found[LicenseModelType], classes);
    record.LicenseModelStatus = Trimmed(found[LicenseModelStatus], classes);
    return record;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
