#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <functional>
#include <sstream>

#include "messages/CExportConfigurationResponse.h"
#include "messages/CGetEncryptionRecoveryDataResponse.h"
#include "messages/CGetLicenseResponse.h"
#include "messages/CGetStatusResponse.h"
#include "messages/CGetTaskStatusResponse.h"
#include "messages/pixlink/AttributeNumbers.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "tests/messages/ReplyPayload.h"

using namespace MessagesTest;
namespace Common = Zun::Connectors::Common;
using Common::Pixlink::Messages::CPixlinkMessageFactory;
namespace Numbers = Common::Pixlink::Messages;

namespace {

typedef const Common::IChannelMessageFactory& Factory;

template <typename Response>
boost::shared_ptr<Response> Parse(Common::IChannelMessageFactory::MessagePtr reply, const Bytes& payload) {
    reply->Deserialize(payload);
    return boost::dynamic_pointer_cast<Response>(reply);
}

std::string Status(const std::string& records) {
    return "<?xml version=\"1.0\"?><VELM><SECTION><STATUS>" + records + "</STATUS></SECTION></VELM>";
}

std::string Group(const std::string& licences, const std::string& name = "LICENSEINFO") {
    return "<GROUP NAME=\"" + name + "\">" + licences + "</GROUP>";
}

std::string Licences(const std::string& groups) {
    return "<VELM><SECTION NAME=\"x\"><INFORMATION>" + groups + "</INFORMATION></SECTION></VELM>";
}

std::string Licence(const std::string& extra, const std::string& activated = "1") {
    return "<License AssociatedSeatId=\"seat\" LicensePublicId=\"pub\" LicenseProductName=\"FDE\" "
           "ActivatedByZun=\"" +
           activated + "\" " + extra + "/>";
}

Common::LicenseRecord OnlyLicence(const std::string& extra, const std::string& activated = "1") {
    const auto reply = Parse<Common::CGetLicenseResponse>(CPixlinkMessageFactory().CreateGetLicenseResponse(),
                                                          Reply(Licences(Group(Licence(extra, activated)))));
    EXPECT_EQ(1u, reply->GetLicenseRecords().size());
    return reply->GetLicenseRecords().at(0);
}

template <typename T>
std::string Hex(const T& value) {
    std::ostringstream text;
    text << std::hex << value;
    return text.str();
}

template <typename T>
std::string Hex(const std::optional<T>& value) {
    return value ? Hex(*value) : "-";
}

template <typename T>
std::string Text(const std::optional<T>& value) {
    std::ostringstream text;
    text << (value ? *value : T());
    return value ? text.str() : "-";
}

std::string Date(const std::optional<Zun::Common::DataDefinition::Common::UTCTime>& date) {
    if (!date) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date->year(), date->month(),
                  date->day(), date->hour(), date->minute(), date->second());
    return text;
}

std::string Describe(const Common::LicenseRecord& r) {
    return r.AssociatedSeatId + "|" + r.LicensePublicId + "|" + r.LicenseProductName + "|" +
           (r.ActivatedBy ? "1" : "0") + "|" + Date(r.LicenseExpirationDate) + "|" + Text(r.ProductCode) +
           "|" + Text(r.SeatName) + "|" + Text(r.LicenseRenewalPeriod) + "|" + Text(r.LicenseType) + "|" +
           Text(r.LicenseFlags) + "|" + Text(r.LicenseModelType) + "|" + Text(r.LicenseModelStatus);
}

std::string Recovery(const std::string& children) {
    return "<VELM><MESSAGE><RESPONSE>" + children + "</RESPONSE></MESSAGE></VELM>";
}

TEST(StatusReplyTest, RecordsMapStatusAndReadHexadecimalIdentifiers) {
    const std::string document = Status(
        "<RECORD STATUS=\"0\" CATEGORY_RES_ID=\"7100000000001AB\" STATUS_RES_ID=\"120000FD\"/><record "
        "STATUS=\"1\"/>"
        "<!-- skipped --><RECORD STATUS=\"1\" CATEGORY_RES_ID=\"10\" STATUS_RES_ID=\"a\" "
        "DESCRIPTION_RES_ID=\"FFFFFFFFFF\"/>"
        "<RECORD STATUS=\"2\" CATEGORY_RES_ID=\"0\" STATUS_RES_ID=\"0\"/><RECORD STATUS=\"ffffffff\"/>");
    const auto reply = Parse<Common::CGetStatusResponse>(CPixlinkMessageFactory().CreateGetStatusResponse(),
                                                         Reply(document));
    EXPECT_EQ(document, reply->GetRawDocument());
    std::vector<std::string> records;
    for (const Common::ProtectionStatusRecord& record : reply->GetProtectionStatusRecords()) {
        records.push_back(Hex(record.Status) + " " + Hex(record.Level) + " " + Hex(record.StatusTextId) +
                          " " + Hex(record.CategoryResId) + " " + Hex(record.StatusResId) + " " +
                          Hex(record.DescriptionResId));
    }
    EXPECT_EQ((std::vector<std::string>{"0 1 71000000000021e 7100000000001ab 120000fd -",
                                        "1 3 71000000000021f 10 a ffffffffff", "2 5 710000000000220 0 0 -",
                                        "ffffffff - - - - -"}),
              records);
}

TEST(StatusReplyTest, FailedParseKeepsEarlierRecordsAndRepeatedParsesAppend) {
    const auto reply = CPixlinkMessageFactory().CreateGetStatusResponse();
    const auto& status = dynamic_cast<const Common::CGetStatusResponse&>(*reply);
    reply->Deserialize(Reply(Status("")));
    EXPECT_TRUE(status.GetProtectionStatusRecords().empty());
    const std::string document = Status("<RECORD STATUS=\"FFFFFFFF\"/><RECORD STATUS=\"3\"/>");
    EXPECT_THROW(reply->Deserialize(Reply(document)), std::runtime_error);
    EXPECT_EQ(document, status.GetRawDocument());
    reply->Deserialize(Reply(Status("<RECORD STATUS=\"FFFFFFFF\"/>")));
    EXPECT_EQ(2u, status.GetProtectionStatusRecords().size());
}

TEST(LicenceReplyTest, EveryFieldFromItsAttribute) {
    const Common::LicenseRecord record = OnlyLicence(
        "LicenseExpirationDate=\"5F5E1000\" ProductCode=\"10\" SeatName=\"  my seat \" "
        "LicenseRenewalPeriod=\" 365 \" "
        "LicenseType=\"  Trial\t\" LicenseFlags=\"-3\" LicenseModelType=\"Seat\" LicenseModelStatus=\" "
        "Active \"");
    EXPECT_EQ("seat|pub|FDE|1|2020-09-13 12:26:40|10|  my seat |365|Trial|-3|Seat|Active", Describe(record));
    EXPECT_EQ("seat|pub|FDE|0|-|-|-|-|-|-|-|-", Describe(OnlyLicence("", "0")));
}

std::string Expires(const std::string& text) {
    return Date(OnlyLicence("LicenseExpirationDate=\"" + text + "\"").LicenseExpirationDate);
}

TEST(LicenceReplyTest, ExpirationIsLow32BitsOfHexSecondsOutside1970And9999) {
    const std::pair<const char*, const char*> cases[] = {
        {"FFFFFFFF", "-"},
        {"0", "-"},
        {"1E1337F", "-"},
        {"zz", "-"},
        {"1E13380", "1971-01-01 00:00:00"},
        {"5F5E1000", "2020-09-13 12:26:40"},
        {"ffffffff", "1969-12-31 23:59:59"},
        {"1FFFFFFFF", "1969-12-31 23:59:59"},
        {"7FFFFFFF", "2038-01-19 03:14:07"},
        {"80000000", "1901-12-13 20:45:52"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Expires(c.first)) << c.first;
    }
}

TEST(LicenceReplyTest, ActivatedOnlyByOneAndDecimalsOnlyWhenTheWholeTextConverts) {
    for (const auto& c : std::vector<std::pair<const char*, bool>>{
             {"1", true}, {"true", false}, {"01", false}, {" 1", false}, {"1 ", false}, {"", false}}) {
        EXPECT_EQ(c.second, OnlyLicence("", c.first).ActivatedBy) << "'" << c.first << "'";
    }
    const std::pair<const char*, std::optional<int64_t>> decimals[] = {
        {"10", 10},    {" 29\t", 29}, {"-5", -5},   {"+7", 7},   {"9223372036854775807", INT64_MAX},
        {"12abc", {}}, {"", {}},      {"0x10", {}}, {"1 2", {}}, {"99999999999999999999", {}},
    };
    for (const auto& c : decimals) {
        EXPECT_EQ(c.second, OnlyLicence(std::string("LicenseFlags=\"") + c.first + "\"").LicenseFlags)
            << c.first;
    }
}

template <typename T>
T StreamHex(const std::string& text) {
    std::istringstream stream(text);
    T value = 0;
    stream >> std::hex >> value;
    return value;
}

// Plain digit texts are converted without a stream; around the longest such texts, and for
// everything the stream alone handles, the result must be the stream's.
TEST(AttributeNumbersTest, HexadecimalReadersGiveWhatStreamExtractionGives) {
    for (const char* text : {"0", "a", "F", "aBcDeF", "FFFFFFFF", "100000000", "7FFFFFFFFFFFFFF",
                             "8000000000000000", "FFFFFFFFFFFFFFFF", "10000000000000000", "00000000000000001",
                             " 1F", "1F ", "0x1F", "-1", "+A", "g", "", "12g4"}) {
        EXPECT_EQ(StreamHex<uint32_t>(text), Numbers::ParseHexUInt32(text)) << text;
        EXPECT_EQ(StreamHex<int64_t>(text), Numbers::ParseHexInt64(text)) << text;
        EXPECT_EQ(StreamHex<uint64_t>(text), Numbers::ParseHexUInt64(text)) << text;
    }
    const std::pair<const char*, std::optional<int64_t>> decimals[] = {
        {"999999999999999999", 999999999999999999LL},
        {"000000000000000000000000042", 42},
        {"9223372036854775808", {}},
        {"-9223372036854775808", INT64_MIN},
        {"1e3", {}},
    };
    for (const auto& c : decimals) {
        EXPECT_EQ(c.second, Numbers::ParseDecimalInt64(c.first)) << c.first;
    }
}

TEST(LicenceReplyTest, RepeatedAttributesGiveTheFirst) {
    EXPECT_EQ("seat|pub|FDE|1|-|5|x|-|a|-|-|-",
              Describe(OnlyLicence("SeatName=\"x\" SeatName=\"y\" ProductCode=\"5\" ProductCode=\"6\" "
                                   "LicenseType=\" a \" LicenseType=\"b\" ActivatedByZun=\"0\"")));
    const auto reply = Parse<Common::CGetEncryptionRecoveryDataResponse>(
        CPixlinkMessageFactory().CreateGetEncryptionRecoveryDataResponse(),
        Reply(Recovery("<RECOVERY_DATA UID=\"u1\" UID=\"u2\" DEVICEID=\"d\">v</RECOVERY_DATA>")));
    EXPECT_EQ("u1", reply->GetRecoveryDataSet().RecoveryData.at(0).Uid);
}

TEST(LicenceReplyTest, OnlyLicenceInfoGroupsCountInDocumentOrder) {
    const std::string document =
        Licences(Group("<License/>", "licenseinfo") + Group(Licence("SeatName=\"a\"") + "<license/>") +
                 "<group NAME=\"LICENSEINFO\"><License/></group>" + Group(Licence("SeatName=\"b\"")));
    const auto reply = Parse<Common::CGetLicenseResponse>(CPixlinkMessageFactory().CreateGetLicenseResponse(),
                                                          Reply(document));
    ASSERT_EQ(2u, reply->GetLicenseRecords().size());
    EXPECT_EQ("a", reply->GetLicenseRecords()[0].SeatName.value());
    EXPECT_EQ("b", reply->GetLicenseRecords()[1].SeatName.value());
    EXPECT_EQ(document, reply->GetRawDocument());
}

TEST(RecoveryReplyTest, PasswordsAndDataInDocumentOrder) {
    const auto reply = Parse<Common::CGetEncryptionRecoveryDataResponse>(
        CPixlinkMessageFactory().CreateGetEncryptionRecoveryDataResponse(),
        Reply(Recovery(
            "<RECOVERY_PASSWORD UID=\"u1\" DEVICEID=\"disk0\" INDEX=\"0\">QUJD</RECOVERY_PASSWORD>"
            "<RECOVERY_DATA UID=\"u2\" DEVICEID=\"disk1\">\n REVG \n</RECOVERY_DATA><OTHER UID=\"x\"/>"
            "<RECOVERY_PASSWORD UID=\"u3\" DEVICEID=\"disk1\" INDEX=\"7\"/>")));
    const Common::RecoveryDataSet& set = reply->GetRecoveryDataSet();
    ASSERT_EQ(2u, set.RecoveryPasswords.size());
    ASSERT_EQ(1u, set.RecoveryData.size());
    const Common::RecoveryPasswordRecord& first = set.RecoveryPasswords[0];
    EXPECT_EQ("u1|disk0|0|QUJD", first.Uid + "|" + first.DeviceId + "|" + first.Index + "|" + first.Value);
    EXPECT_EQ("u3|", set.RecoveryPasswords[1].Uid + "|" + set.RecoveryPasswords[1].Value);
    EXPECT_EQ("u2|disk1|\n REVG \n",
              set.RecoveryData[0].Uid + "|" + set.RecoveryData[0].DeviceId + "|" + set.RecoveryData[0].Value);
}

TEST(RecoveryReplyTest, FailuresNeverQuoteTheSecrets) {
    const std::string secret = "U0VDUkVU";
    for (const std::string& children :
         {"<RECOVERY_PASSWORD UID=\"u\" DEVICEID=\"d\" INDEX=\"0\">" + secret +
              "</RECOVERY_PASSWORD><RECOVERY_DATA>" + secret + "</RECOVERY_DATA>",
          "<RECOVERY_PASSWORD UID=\"u\" DEVICEID=\"d\" INDEX=\"0\">" + secret + "</RECOVERY_PASS",
          "<RECOVERY_DATA UID=\"" + secret + "\" DEVICEID=\"d\">" + secret + "<</RECOVERY_DATA>"}) {
        const std::string text = FailureText<std::exception>([&] {
            CPixlinkMessageFactory().CreateGetEncryptionRecoveryDataResponse()->Deserialize(
                Reply(Recovery(children)));
        });
        EXPECT_NE("no failure", text);
        EXPECT_EQ(std::string::npos, text.find(secret)) << text;
    }
}

TEST(ExportConfigurationReplyTest, BodyByteForByte) {
    const auto configuration = [](const Bytes& payload) {
        return Parse<Common::CExportConfigurationResponse>(
                   CPixlinkMessageFactory().CreateExportConfigurationResponse(), payload)
            ->GetConfiguration();
    };
    EXPECT_EQ(std::string("<cfg>\0\xff\r\n", 9), configuration(Reply({"<cfg>\0\xff\r\n", 9})));
    EXPECT_EQ("", configuration(Reply("trailing", 0)));
    EXPECT_EQ("ab", configuration(Reply("abcd", 2)));
}

struct FailureCase {
    const char* name;
    std::function<Common::IChannelMessageFactory::MessagePtr(Factory)> create;
    Bytes payload;
    const char* message;  // nullptr: the XML reader's own parse error
};

class ReplyFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(ReplyFailureTest, FailsWithItsText) {
    const auto reply = GetParam().create(CPixlinkMessageFactory());
    const auto parse = [&] { reply->Deserialize(GetParam().payload); };
    if (GetParam().message == nullptr) {
        EXPECT_THROW(parse(), boost::property_tree::xml_parser_error);
    } else {
        EXPECT_EQ(GetParam().message, FailureText<std::runtime_error>(parse));
    }
}

const auto StatusReply = [](Factory f) { return f.CreateGetStatusResponse(); };
const auto LicenceReply = [](Factory f) { return f.CreateGetLicenseResponse(); };
const auto RecoveryReply = [](Factory f) { return f.CreateGetEncryptionRecoveryDataResponse(); };
const auto ExportReply = [](Factory f) { return f.CreateExportConfigurationResponse(); };
const char* const NotFull = "PixlinkChannelBuffer: Buffer is not full enough";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyFailureTest,
    testing::Values(
        FailureCase{"ShortHeader", RecoveryReply, Bytes(11, 0), NotFull},
        FailureCase{"BodyLengthLies", ExportReply, Reply("abc", 4), NotFull},
        FailureCase{"HugeBodyLength", StatusReply, Reply("<VELM/>", 0xFFFFFFFF), NotFull},
        FailureCase{"EmptyDocument", StatusReply, Reply(""), nullptr},
        FailureCase{"BlankDocument", LicenceReply, Reply(" \r\n"), nullptr},
        FailureCase{"NotWellFormed", StatusReply, Reply("<VELM><SECTION></VELM>"), nullptr},
        FailureCase{"NoStatus", StatusReply, Reply("<VELM><SECTION/></VELM>"),
                    "No such node (VELM.SECTION.STATUS)"},
        FailureCase{"NoStatusAttribute", StatusReply, Reply(Status("<RECORD/>")),
                    "No such node (<xmlattr>.STATUS)"},
        FailureCase{"NoCategory", StatusReply, Reply(Status("<RECORD STATUS=\"1\" STATUS_RES_ID=\"1\"/>")),
                    "No such node (<xmlattr>.CATEGORY_RES_ID)"},
        FailureCase{"NoStatusResId", StatusReply,
                    Reply(Status("<RECORD STATUS=\"2\" CATEGORY_RES_ID=\"1\"/>")),
                    "No such node (<xmlattr>.STATUS_RES_ID)"},
        FailureCase{"StatusThree", StatusReply, Reply(Status("<RECORD STATUS=\"3\"/>")),
                    "Unknown protection status"},
        FailureCase{"OverflowIsTheMarker", StatusReply,
                    Reply(Status("<RECORD STATUS=\"1FFFFFFFF\"/><RECORD STATUS=\"4\"/>")),
                    "Unknown protection status"},
        FailureCase{"NoInformation", LicenceReply, Reply("<VELM><SECTION/></VELM>"),
                    "No such node (VELM.SECTION.INFORMATION)"},
        FailureCase{"NoGroupName", LicenceReply, Reply(Licences("<GROUP/>")),
                    "No such node (<xmlattr>.NAME)"},
        FailureCase{"NoActivatedBy", LicenceReply,
                    Reply(Licences(Group(
                        "<License AssociatedSeatId=\"a\" LicensePublicId=\"b\" LicenseProductName=\"c\"/>"))),
                    "No such node (<xmlattr>.ActivatedByZun)"},
        FailureCase{"NoSeat", LicenceReply,
                    Reply(Licences(Group(
                        "<License ActivatedByZun=\"1\" LicensePublicId=\"b\" LicenseProductName=\"c\"/>"))),
                    "No such node (<xmlattr>.AssociatedSeatId)"},
        FailureCase{"FirstMissingInReadingOrder", LicenceReply,
                    Reply(Licences(Group("<License ActivatedByZun=\"1\" AssociatedSeatId=\"a\"/>"))),
                    "No such node (<xmlattr>.LicenseProductName)"},
        FailureCase{"NoResponse", RecoveryReply, Reply("<VELM><MESSAGE/></VELM>"),
                    "No such node (VELM.MESSAGE.RESPONSE)"},
        FailureCase{"NoIndex", RecoveryReply,
                    Reply(Recovery("<RECOVERY_PASSWORD UID=\"u\" DEVICEID=\"d\">v</RECOVERY_PASSWORD>")),
                    "No such node (<xmlattr>.INDEX)"},
        FailureCase{"NoDevice", RecoveryReply, Reply(Recovery("<RECOVERY_DATA UID=\"u\">v</RECOVERY_DATA>")),
                    "No such node (<xmlattr>.DEVICEID)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(ReplyFactoryTest, RepliesOfferTheirInterfacesAndNeverSerialize) {
    CPixlinkMessageFactory f;
    const Common::IChannelMessageFactory::MessagePtr replies[] = {
        f.CreateExportConfigurationResponse(), f.CreateGetStatusResponse(), f.CreateGetLicenseResponse(),
        f.CreateGetTaskStatusResponse(), f.CreateGetEncryptionRecoveryDataResponse()};
    EXPECT_TRUE(boost::dynamic_pointer_cast<Common::CExportConfigurationResponse>(replies[0]));
    EXPECT_TRUE(boost::dynamic_pointer_cast<Common::CGetStatusResponse>(replies[1]));
    EXPECT_TRUE(boost::dynamic_pointer_cast<Common::CGetLicenseResponse>(replies[2]));
    EXPECT_TRUE(boost::dynamic_pointer_cast<Common::CGetTaskStatusResponse>(replies[3]));
    EXPECT_TRUE(boost::dynamic_pointer_cast<Common::CGetEncryptionRecoveryDataResponse>(replies[4]));
    for (const auto& reply : replies) {
        EXPECT_EQ("Standard implemtation of serialize in channel response is not implemented",
                  FailureText<std::runtime_error>([&] { reply->Serialize(); }));
    }
}

}  // namespace
