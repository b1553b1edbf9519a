#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "bus/CQUILRequest.h"
#include "host/CApplyPolicy.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CProductActivation.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "host/CRequestConfigurationMessage.h"
#include "tools/agent/control/CTaskParser.h"

namespace {

using Zun::Tools::Agent::CTaskParser;
namespace Msg = Zun::Common::Message;
namespace Quil = Zun::Common::Message::Connectors::QUILConnector;

const char* const kIds =
    R"("ids":["11111111-2222-3333-4444-555555555555","aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee","01234567-89ab-cdef-0123-456789abcdef"])";

CTaskParser Parser() {
    int next = 0;
    return CTaskParser(
        [next]() mutable { return "00000000-0000-0000-0000-00000000000" + std::to_string(++next); });
}

template <class T>
const T& As(const CTaskParser::Task& task) {
    const T* message = dynamic_cast<const T*>(task.message.get());
    if (message == nullptr) {
        throw std::runtime_error("unexpected class " + task.message->Describe());
    }
    return *message;
}

struct Good {
    std::string line;
    unsigned type;
    std::function<void(const CTaskParser::Task&)> check;
};

class GoodTaskTest : public ::testing::TestWithParam<Good> {};

TEST_P(GoodTaskTest, BuildsTheBusMessage) {
    const Good& c = GetParam();
    const CTaskParser::Task task = Parser().Parse(c.line);
    ASSERT_TRUE(task.message);
    EXPECT_EQ(c.type, task.message->GetType());
    if (auto* agentTask = dynamic_cast<const Msg::CTask*>(task.message.get())) {
        ASSERT_EQ(3u, task.ids.size());
        EXPECT_EQ(task.ids[0], agentTask->GetFirstId().uuid());
        EXPECT_EQ(task.ids[2], agentTask->GetThirdId().uuid());
        EXPECT_TRUE(agentTask->HasTaskIdentifiers());
    } else {
        EXPECT_TRUE(task.ids.empty());
    }
    if (c.check) {
        c.check(task);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, GoodTaskTest,
    ::testing::Values(
        Good{std::string(R"({"task":"block-password",)") + kIds + "}", 723,
             [](const CTaskParser::Task& t) {
                 EXPECT_EQ("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee", As<Msg::CTask>(t).GetSecondId().uuid());
             }},
        Good{R"({"task":"invalidate-password"})", 721,
             [](const CTaskParser::Task& t) {
                 EXPECT_EQ("00000000-0000-0000-0000-000000000001", t.ids[0]) << "generated when absent";
                 EXPECT_EQ("00000000-0000-0000-0000-000000000003", t.ids[2]);
             }},
        Good{R"({"task":"wipe-password"})", 722, nullptr},
        Good{R"({"task":"activate","license_file_base64":"aGVs\nbG8A/w=="})", 46,
             [](const CTaskParser::Task& t) {
                 const auto& a = As<Msg::Connectors::Product::Task::CProductActivation>(t);
                 EXPECT_EQ(std::string("hello\0\xff", 7), a.GetLicenseFile());
                 EXPECT_EQ("", a.GetManagedActivation());
             }},
        Good{R"({"task":"activate","managed_activation":"seat \"42\" é"})", 46,
             [](const CTaskParser::Task& t) {
                 EXPECT_EQ("seat \"42\" é",
                           As<Msg::Connectors::Product::Task::CProductActivation>(t).GetManagedActivation());
             }},
        Good{R"({"task":"maintenance-on","boots":3,"seconds":4294967295,"until":"2096-02-29T23:59:58Z"})",
             740,
             [](const CTaskParser::Task& t) {
                 const auto& d = As<Quil::Task::CEnableFDEMaintenanceMode>(t).GetEnableMaintenanceMode();
                 EXPECT_EQ(3u, d.bootcycles());
                 EXPECT_EQ(4294967295u, d.seconds());
                 EXPECT_EQ(2096, d.fixeddate().year());
                 EXPECT_EQ(29, d.fixeddate().day());
                 EXPECT_EQ(58, d.fixeddate().second());
             }},
        Good{R"({"task":"maintenance-on","seconds":0})", 740,
             [](const CTaskParser::Task& t) {
                 const auto& d = As<Quil::Task::CEnableFDEMaintenanceMode>(t).GetEnableMaintenanceMode();
                 EXPECT_TRUE(d.has_seconds()) << "a window of zero is the product's to judge";
                 EXPECT_FALSE(d.has_bootcycles() || d.has_fixeddate());
             }},
        Good{"\xEF\xBB\xBF{\"task\":\"maintenance-on\",\"until\":\"9999-12-31T23:59:59Z\"}", 740, nullptr},
        Good{R"({"task":"export-configuration","product_type":0})", 5, nullptr},
        Good{R"({"task":"policy","configuration":"same \"key\" twice in text is fine: \"task\":1"})", 188,
             nullptr},
        Good{R"({"task":"maintenance-off"})", 741, nullptr},
        Good{R"({"task":"export-configuration","product_type":10})", 5,
             [](const CTaskParser::Task& t) {
                 EXPECT_EQ(10u, As<Msg::Configuration::CRequestConfigurationMessage>(t)
                                    .GetRequestConfiguration()
                                    .producttype());
             }},
        Good{R"({"task":"policy","configuration":"<POLICY a=\"1\"/>\n"})", 188,
             [](const CTaskParser::Task& t) {
                 EXPECT_EQ("<POLICY a=\"1\"/>\n", As<Msg::Policies::CApplyPolicy>(t).GetConfiguration());
             }},
        Good{R"({"task":"recovery-response","passwords":["p1","p2"],"data":["d1"]})", 729,
             [](const CTaskParser::Task& t) {
                 const auto& d = As<Quil::CQUILProcessRecoveryDataResponse>(t).GetFDERecoveryData();
                 ASSERT_EQ(2, d.recovery_passwords_size());
                 EXPECT_EQ("p2", d.recovery_passwords(1).internalid());
                 ASSERT_EQ(1, d.recovery_data_blocks_size());
                 EXPECT_EQ("d1", d.recovery_data_blocks(0).internalid());
             }},
        Good{R"(  {"task":"query","kind":3}  )", 9,
             [](const CTaskParser::Task& t) { EXPECT_EQ(3u, As<Quil::CQUILRequest>(t).GetRequestKind()); }}));

struct Bad {
    std::string line;
    std::string error;
};

class BadTaskTest : public ::testing::TestWithParam<Bad> {};

TEST_P(BadTaskTest, IsRefusedWithAClearText) {
    try {
        Parser().Parse(GetParam().line);
        FAIL() << "accepted: " << GetParam().line;
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(GetParam().error)) << e.what();
    }
}

const std::string kDeep = std::string(100000, '[') + std::string(100000, ']');

INSTANTIATE_TEST_SUITE_P(
    Lines, BadTaskTest,
    ::testing::Values(
        Bad{"", "not valid JSON"}, Bad{"block-password", "not valid JSON"},
        Bad{R"({"task":"block-password")", "not valid JSON"}, Bad{kDeep, "nested deeper than 64 levels"},
        Bad{"[1,2]", "a task must be a JSON object, not an array"}, Bad{"{}", "'task' is missing"},
        // Not Poco's inner state but what is wrong, and where.
        Bad{R"("")", "a task must be a JSON object, not a string"},
        Bad{"null", "a task must be a JSON object, not null"}, Bad{" 7", "not a number"},
        Bad{R"({"task":"block-password")",
            "expected ',' or '}' after the field's value at the end of the text (column 25)"},
        Bad{R"({"task" "x"})", "expected ':' after the field name at column 9"},
        Bad{R"({"task":"x",})", "expected a field name in quotes at column 13"},
        Bad{R"({"task":x})", "unexpected 'x' at column 9"},
        Bad{R"({"a":1}})", "unexpected text after the value at column 8"},
        Bad{"{\"task\":\"a\tb\"}", "a control character in a string at column 11"},
        Bad{R"({"task":1.})", "expected a digit at column 11"},
        Bad{R"({"task":7})", "'task' must be a string"}, Bad{R"({"task":"reboot"})", "unknown task 'reboot'"},
        Bad{R"({"task":"block-pasword"})", "unknown task 'block-pasword'; did you mean 'block-password'?"},
        Bad{R"({"task":"block-password","ids":["11111111-2222-3333-4444-555555555555"]})",
            "task 'block-password': 'ids' must hold exactly three"},
        Bad{R"({"task":"block-password","ids":"11111111-2222-3333-4444-555555555555"})", "array of strings"},
        Bad{R"({"task":"wipe-password","ids":["a","b","c"]})", "'a' is not a UUID"},
        Bad{R"({"task":"wipe-password","idz":[]})", "unknown field 'idz'"},
        Bad{std::string(R"({"task":"policy","configuration":"x",)") + kIds + "}",
            "policy has no task identifiers"},
        Bad{R"({"task":"maintenance-on","boots":-1})", "'boots' must be between 0 and 4294967295"},
        Bad{R"({"task":"maintenance-on","seconds":4294967296})", "'seconds' must be between"},
        Bad{R"({"task":"maintenance-on","boots":"3"})", "'boots' must be an integer"},
        Bad{R"({"task":"maintenance-on","boots":true})", "'boots' must be an integer"},
        Bad{R"({"task":"maintenance-on","boots":2.5})", "'boots' must be an integer"},
        Bad{R"({"task":"maintenance-on","until":"2027-01-01"})", "'until' must be a UTC time"},
        Bad{R"({"task":"maintenance-on","until":"2001-01-01T00:00:00Z"})", "'until' is in the past"},
        Bad{R"({"task":"activate"})", "task 'activate': give 'license_file_base64' or 'managed_activation'"},
        Bad{R"({"task":"activate","license_file_base64":"@@@@"})", "not valid Base64"},
        Bad{R"({"task":"activate","managed_activation":null})", "'managed_activation' must be a string"},
        Bad{R"({"task":"export-configuration"})", "'product_type' is missing"},
        Bad{R"({"task":"policy"})", "'configuration' is missing"},
        Bad{R"({"task":"recovery-response"})", "needs 'passwords' or 'data'"},
        Bad{R"({"task":"recovery-response","data":[1]})", "'data' must be an array of strings"},
        Bad{R"({"task":"query","kind":4})", "'kind' must be between 0 and 3"},
        // What the module could only retry with reconnects and then report failed.
        Bad{R"({"task":"maintenance-on"})", "the maintenance window is missing"},
        Bad{R"({"task":"maintenance-on","until":"2027-02-29T00:00:00Z"})", "'until' is no date"},
        Bad{R"({"task":"maintenance-on","until":"1399-12-31T00:00:00Z"})", "'until' is no date"},
        Bad{R"({"task":"maintenance-on","until":"2027-01-01T24:00:00Z"})", "hour 24 does not exist"},
        Bad{R"({"task":"export-configuration","product_type":29})", "'product_type' must be 0 or 10"},
        // What the JSON parser would let through changed.
        Bad{R"({"task":"query","kind":18446744073709551617})", "'kind' 18446744073709551617 is out of range"},
        Bad{R"({"task":"maintenance-on","boots":18446744073709551616})",
            "'boots' 18446744073709551616 is out"},
        Bad{R"({"task":"maintenance-on","boots":-9223372036854775809})",
            "'boots' -9223372036854775809 is out"},
        Bad{R"({"task":"block-password","task":"wipe-password"})", "'task' given more than once"},
        Bad{R"({"task":"recovery-response","passwords":["a"],"data":["b"],"passwords":["c"]})",
            "'passwords' given more than once"},
        Bad{R"({"task":"recovery-response","passwords":[{"a":1,"a":2}]})", "'passwords[0].a' given more"},
        Bad{"{\"task\":\"policy\",\"configuration\":\"\xFF\"}", "not valid UTF-8 at byte 34"},
        Bad{"\xEF\xBB\xBF\xEF\xBB\xBF{\"task\":\"wipe-password\"}", "starts with a UTF-8 byte order mark"}));

// A window that ended meanwhile does not make a stored task unreadable: it was taken when it came.
TEST(TaskMomentTest, AStoredWindowInThePastIsStillRead) {
    const std::string line = R"({"task":"maintenance-on","until":"2001-01-01T00:00:00Z"})";
    EXPECT_THROW(Parser().Parse(line), std::invalid_argument);
    EXPECT_EQ(740u, Parser().Parse(line, CTaskParser::Moment::Stored).message->GetType());
}

// UTF-8 is taken exactly: the last forms on either side of each excluded range (overlong forms,
// UTF-16 surrogates, code points past U+10FFFF) decide whether a text is answered or refused.
TEST(TaskTextTest, Utf8IsTakenUpToItsBoundariesAndNoFurther) {
    struct Form {
        const char* bytes;
        bool valid;
    };
    const Form forms[] = {
        {"\xC2\x80", true},          {"\xC1\xBF", false},          // two bytes, overlong below U+0080
        {"\xE0\xA0\x80", true},      {"\xE0\x9F\xBF", false},      // three bytes, overlong below U+0800
        {"\xED\x9F\xBF", true},      {"\xED\xA0\x80", false},      // U+D7FF; a high surrogate (CESU-8)
        {"\xED\xBF\xBF", false},     {"\xEE\x80\x80", true},       // a low surrogate; U+E000
        {"\xF0\x90\x80\x80", true},  {"\xF0\x8F\xBF\xBF", false},  // four bytes, overlong below U+10000
        {"\xF4\x8F\xBF\xBF", true},  {"\xF4\x90\x80\x80", false},  // U+10FFFF; past it
        {"\xF5\x80\x80\x80", false}, {"\xE2\x82", false},          // no such lead byte; cut short
    };
    for (const Form& form : forms) {
        const std::string line = std::string(R"({"task":"policy","configuration":")") + form.bytes + "\"}";
        std::string refusal;
        try {
            Parser().Parse(line);
        } catch (const std::invalid_argument& e) {
            refusal = e.what();
        }
        std::string codes;  // the bytes in decimal, for the failure message
        for (const char* at = form.bytes; *at != '\0'; ++at) {
            codes += " " + std::to_string(static_cast<unsigned char>(*at));
        }
        if (form.valid) {
            EXPECT_EQ("", refusal) << codes;
        } else {
            EXPECT_NE(std::string::npos, refusal.find("not valid UTF-8 at byte 34"))
                << codes << ": " << refusal;
        }
    }
}

}  // namespace
