#include "messages/pixlink/CGetLicenseResponse.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/property_tree/ptree.hpp>

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

// "FFFFFFFF" marks a licence that never expires; the product writes other dates as the low 32 bits
// of a hexadecimal number of seconds since 1970, and dates in 1970 or 9999 mean "no date" as well.
std::optional<UTCTime> ExpirationDate(const std::optional<std::string>& text) {
    if (!text || *text == "FFFFFFFF") {
        return std::nullopt;
    }
    const int32_t seconds = static_cast<int32_t>(static_cast<uint32_t>(ParseHexUInt64(*text)));
    const boost::posix_time::ptime instant =
        boost::posix_time::ptime(boost::gregorian::date(1970, 1, 1)) + boost::posix_time::seconds(seconds);
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

std::optional<int64_t> Decimal(const Tree& license, const char* path) {
    const auto text = license.get_optional<std::string>(path);
    return text ? ParseDecimalInt64(*text) : std::nullopt;
}

std::optional<std::string> Text(const Tree& license, const char* path) {
    const auto text = license.get_optional<std::string>(path);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::string> Trimmed(const Tree& license, const char* path) {
    const auto text = license.get_optional<std::string>(path);
    return text ? std::optional<std::string>(boost::algorithm::trim_copy(*text)) : std::nullopt;
}

}  // namespace

void CGetLicenseResponse::Deserialize(const std::vector<uint8_t>& payload) {
    m_document = ReadReplyBody(payload);
    const Tree document = ParseReplyDocument(m_document);
    for (const auto& child : document.get_child("VELM.SECTION.INFORMATION")) {
        if (child.first == "GROUP" && child.second.get<std::string>("<xmlattr>.NAME") == "LICENSEINFO") {
            ParseGroup(child.second);
        }
    }
}

void CGetLicenseResponse::ParseGroup(const Tree& group) {
    for (const auto& child : group) {
        if (child.first == "License") {
            m_records.push_back(ParseLicense(child.second));
        }
    }
}

LicenseRecord CGetLicenseResponse::ParseLicense(const Tree& license) {
    LicenseRecord record;
    record.ActivatedBy = license.get<std::string>("<xmlattr>.ActivatedByZun") == "1";
    record.LicenseProductName = license.get<std::string>("<xmlattr>.LicenseProductName");
    record.LicensePublicId = license.get<std::string>("<xmlattr>.LicensePublicId");
    record.AssociatedSeatId = license.get<std::string>("<xmlattr>.AssociatedSeatId");
    record.LicenseExpirationDate = ExpirationDate(Text(license, "<xmlattr>.LicenseExpirationDate"));
    record.ProductCode = Decimal(license, "<xmlattr>.ProductCode");
    record.LicenseRenewalPeriod = Decimal(license, "<xmlattr>.LicenseRenewalPeriod");
    record.LicenseFlags = Decimal(license, "<xmlattr>.LicenseFlags");
    record.SeatName = Text(license, "<xmlattr>.SeatName");
    record.LicenseType = Trimmed(license, "<xmlattr>.LicenseType");
    record.LicenseModelType = Trimmed(license, "<xmlattr>.LicenseModelType");
    record.LicenseModelStatus = Trimmed(license, "<xmlattr>.LicenseModelStatus");
    return record;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
