// `quil-agent logs` against small databases made through CAgentStore: what each filter selects,
// what each output format shows, and which option values are refused.
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/Session.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <sstream>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "bus/CQUILRequest.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "logs/CSymbolContainer.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/logs/CMessageSummary.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CMessageEncoder.h"

namespace {

using namespace Zun::Common;
using Poco::JSON::Array;
using Poco::JSON::Object;
using Zun::Tools::Agent::CAgentCommands;
using Zun::Tools::Agent::CAgentOptions;
using Zun::Tools::Agent::CAgentStore;
using Zun::Tools::Agent::CMessageEncoder;
typedef CAgentStore::Record Record;

const std::string kTask = "6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f70";
const std::string kSecond = "6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f71";
const std::string kThird = "6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f72";
// Mentioned in a result's text only: no row is this task's.
const std::string kMentioned = "0b0b0b0b-1111-4222-8333-444444444444";

// A log row as CMessageEncoder stores it.
class CRow {
public:
    CRow& Int(int id, int64_t value) { return m_symbols.AddInt(id, value), *this; }
    CRow& ResId(int id, int64_t value) { return m_symbols.AddResId(id, value), *this; }
    CRow& Text(int id, const std::string& value) { return m_symbols.AddString(id, value), *this; }
    CRow& Uuid(int id, const std::string& value) { return m_symbols.AddUuid(id, value), *this; }
    CRow& Bool(int id, bool value) { return m_symbols.AddBool(id, value), *this; }
    CRow& Blob(int id, const std::string& value) { return m_symbols.AddBlob(id, value), *this; }
    Array::Ptr Encoded() const { return CMessageEncoder::EncodeSymbols(m_symbols); }

private:
    Logs::CSymbolContainer m_symbols;
};

std::string Json(const Object& object) {
    std::ostringstream out;
    object.stringify(out);
    return out.str();
}

Record LogRecord(uint32_t type, const std::vector<CRow>& rows, const std::string& user = "") {
    Object content(Poco::JSON_PRESERVE_KEY_ORDER);
    Array::Ptr encoded = new Array;
    for (const CRow& row : rows) {
        encoded->add(row.Encoded());
    }
    content.set("rows", encoded);
    Record record;
    record.type = type;
    record.className = "CStatusLog";
    record.description = "StatusLog_" + std::to_string(type);
    record.userContext = user;
    record.content = Json(content);
    return record;
}

Record TaskResult(const std::string& first, const std::string& text = "", int state = 30) {
    CRow row;
    row.Uuid(2842, first).Uuid(2846, kThird).Uuid(2844, kSecond).ResId(2848, 0x10000000BLL).Int(2850, state);
    if (!text.empty()) {
        row.Text(2913, text);
    }
    return LogRecord(10368, {row});
}

Record Encoded(const Kernel::IMessage& message) {
    return CMessageEncoder::Encode(message, boost::make_shared<Kernel::CUserContext>("stdin"));
}

Record MaintenanceTask() {
    Message::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode task;
    task.SetTaskIdentifiers(kTask, kSecond, kThird);
    task.MutableEnableMaintenanceMode().set_bootcycles(3);
    return Encoded(task);
}

class LogsTest : public ::testing::Test {
protected:
    LogsTest() : path(root.Path() + "/var/agent.db") {}

    // Stores the records, then gives them the times (the agent stamps its own clock's).
    void Store(const std::vector<Record>& records, const std::vector<std::string>& times = {}) {
        {
            CAgentStore store(path, CAgentStore::Mode::Create);
            store.InTransaction([&] {
                for (const Record& record : records) {
                    store.Append(record);
                }
            });
        }
        Poco::Data::SQLite::Connector::registerConnector();
        Poco::Data::Session session("SQLite", path);
        for (size_t i = 0; i < times.size(); ++i) {
            Poco::Int64 sequence = static_cast<Poco::Int64>(i + 1);
            std::string time = times[i];
            session << "UPDATE messages SET time = ? WHERE sequence = ?", Poco::Data::Keywords::use(time),
                Poco::Data::Keywords::use(sequence), Poco::Data::Keywords::now;
        }
    }

    int Logs(const std::vector<std::string>& extra, std::string& out, std::string& errors) {
        std::vector<std::string> arguments = {"logs", "--db", path};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::ostringstream o, e;
        const int code = CAgentCommands::Logs(CAgentOptions::Parse(arguments), o, e);
        out = o.str();
        errors = e.str();
        return code;
    }

    std::string Output(const std::vector<std::string>& extra) {
        std::string out, errors;
        EXPECT_EQ(0, Logs(extra, out, errors)) << errors;
        return out;
    }

    // The sequences `logs --json` prints, in order.
    std::vector<int64_t> Sequences(std::vector<std::string> extra) {
        extra.push_back("--json");
        std::vector<int64_t> sequences;
        std::istringstream in(Output(extra));
        for (std::string line; std::getline(in, line);) {
            sequences.push_back(
                Poco::JSON::Parser().parse(line).extract<Object::Ptr>()->getValue<Poco::Int64>("sequence"));
        }
        return sequences;
    }

    Zun::Testing::CTemporaryObjectRoot root;
    std::string path;
};

struct FilterCase {
    std::vector<std::string> arguments;
    std::vector<int64_t> expected;
};

TEST_F(LogsTest, FiltersSelectTheirRowsInPublicationOrder) {
    Store({LogRecord(10044, {CRow().ResId(248, -1)}), LogRecord(10292, {CRow().Text(2143, "2.1")}),
           TaskResult(kTask, "retry of " + kMentioned), MaintenanceTask(),
           Encoded(Message::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest()),
           LogRecord(10044, {CRow().ResId(248, -1)})},
          {"2026-11-30T23:59:59.999Z", "2026-12-01T00:00:00.000Z", "2026-12-06T10:00:00.000Z",
           "2026-12-06T10:59:59.999Z", "2026-12-06T11:00:00.000Z", "2027-01-01T00:00:00.000Z"});
    for (const FilterCase& c : std::vector<FilterCase>{
             {{}, {1, 2, 3, 4, 5, 6}},
             {{"--type", "10044"}, {1, 6}},
             {{"--type", "728", "--type", "10044"}, {1, 5, 6}},
             {{"--type", "9"}, {}},
             {{"--since", "2026-12"}, {2, 3, 4, 5, 6}},
             {{"--until", "2026-12"}, {1, 2, 3, 4, 5}},
             {{"--since", "2026-12", "--until", "2026-12"}, {2, 3, 4, 5}},
             {{"--since", "2026-12-06T10", "--until", "2026-12-06T10"}, {3, 4}},
             {{"--since", "2026-12-06T10:59:59.999Z", "--until", "2026-12-06T11:00"}, {4, 5}},
             {{"--since", "2027"}, {6}},
             {{"--until", "2025"}, {}},
             {{"--since", "2026-12-06", "--type", "10044"}, {6}},
             {{"--task", kTask}, {3, 4}},
             {{"--task", kThird}, {3, 4}},
             {{"--task", "6F1C2A9E-3B7D-4C5E-8A10-2B3C4D5E6F70"}, {3, 4}},
             {{"--task", kMentioned}, {}},
             {{"--task", kTask, "--type", "10368"}, {3}},
             {{"-n", "2"}, {5, 6}},
             {{"--limit", "10"}, {1, 2, 3, 4, 5, 6}},
             {{"-n", "0"}, {}},
             {{"-n", "1", "--type", "10044", "--until", "2026-12"}, {1}},
             {{"-n", "1", "--task", kTask}, {4}},
         }) {
        std::string shown;
        for (const std::string& a : c.arguments) {
            shown += a + " ";
        }
        EXPECT_EQ(c.expected, Sequences(c.arguments)) << shown;
    }
}

// More rows than one page: every page boundary must neither lose nor repeat a row.
TEST_F(LogsTest, PagesJoinWithoutGapsOrRepeats) {
    const int64_t kRows = 2500;
    std::vector<Record> records;
    for (int64_t i = 0; i < kRows; ++i) {
        records.push_back(LogRecord(i % 2 == 0 ? 10044 : 10292, {CRow().Int(241, i)}));
    }
    Store(records);
    struct Case {
        std::vector<std::string> arguments;
        int64_t first, count, step;
    };
    for (const Case& c :
         std::vector<Case>{{{}, 1, kRows, 1},
                           {{"--type", "10292"}, 2, kRows / 2, 2},
                           {{"-n", "1500"}, kRows - 1499, 1500, 1},
                           {{"-n", "1100", "--type", "10044"}, kRows - 1 - 2 * 1099, 1100, 2}}) {
        const std::vector<int64_t> sequences = Sequences(c.arguments);
        ASSERT_EQ(static_cast<size_t>(c.count), sequences.size()) << c.arguments.size();
        for (int64_t i = 0; i < c.count; ++i) {
            ASSERT_EQ(c.first + i * c.step, sequences[static_cast<size_t>(i)]) << i;
        }
    }
}

TEST_F(LogsTest, ControlCharactersInStoredTextAreShownEscaped) {
    Record hostile = LogRecord(10368,
                               {CRow()
                                    .Uuid(2842, kTask)
                                    .Int(2850, 30)
                                    .ResId(2848, 1)
                                    .Text(2913,
                                          "done\x1b]0;owned\x07\x1b[2J\r\nnext\xc2\x9b"
                                          "1m\x7f")},
                               "user\x1b[31m");
    hostile.description = "EventLog\x1b[8m";
    Store({hostile});
    for (const std::string format : {"table", "summary", "json"}) {
        const std::string out = Output({"--format", format});
        for (const std::string& raw : {std::string("\x1b"), std::string("\x07"), std::string("\r"),
                                       std::string("\xc2\x9b"), std::string("\x7f")}) {
            EXPECT_EQ(std::string::npos, out.find(raw)) << format << ": " << out;
        }
        if (format != "json") {
            EXPECT_NE(std::string::npos, out.find("done\\e]0;owned\\x07\\e[2J\\r\\nnext\\u009B1m\\x7F"))
                << format << ": " << out;
        }
    }
    EXPECT_NE(std::string::npos, Output({"--format", "table"}).find("user\\e[31m"));
    EXPECT_NE(std::string::npos, Output({"--json"}).find("\\u001B]0;owned\\u0007"));
}

struct SummaryCase {
    Record record;
    std::string line;
};

TEST_F(LogsTest, SummaryReadsEveryPublishedType) {
    auto product = [](int64_t id) {
        Record record = LogRecord(10405, {});
        Object::Ptr content = Poco::JSON::Parser().parse(record.content).extract<Object::Ptr>();
        content->set("product", CRow().ResId(4429, id).Encoded());
        record.content = Json(*content);
        return record;
    };
    Message::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest escrow;
    escrow.MutableFDERecoveryData().add_recovery_passwords()->set_recovery_password("123456");
    const std::vector<SummaryCase> cases = {
        {LogRecord(10044, {CRow().ResId(248, -1)}), "10044 protection status: all clear"},
        {LogRecord(10044, {CRow().Int(241, 6).ResId(248, 0x1000000B3LL)}),
         "10044 protection status: level 6 status 0x00000001000000B3 (product unreachable)"},
        {LogRecord(10292, {CRow().Text(2143, "2.1.0")}), "10292 connector status: running (2.1.0)"},
        {LogRecord(10553, {}), "10553 encryption storage: no record in order"},
        {LogRecord(10553, {CRow().Int(4672, 2)}), "10553 encryption storage: in order, level 2"},
        {LogRecord(10348,
                   {CRow().Text(2693, "VELM-1").Text(2696, "SEAT-7").Bool(2700, true).Text(2698, "2030")}),
         "10348 licences: VELM-1 (SEAT-7) activated true, expires 2030"},
        {product(0x071000000000081CLL), "10405 product status: deactivated, product 0x071000000000081C"},
        {LogRecord(10405, {CRow().Text(3560, "VELM FDE").Int(3554, 1)}),
         "10405 product status: VELM FDE, state 1"},
        // A result names its task, stored later here, by the task's own record; each state its word.
        {TaskResult(kTask),
         "10368 task result: EnableFDEMaintenanceMode state 30 (done), code 0x000000010000000B"},
        {TaskResult(kTask, "disk busy", 20),
         "10368 task result: EnableFDEMaintenanceMode state 20 (retrying), code 0x000000010000000B, \"disk "
         "busy\""},
        {TaskResult(kTask, "", 40), "10368 task result: EnableFDEMaintenanceMode state 40 (failed)"},
        {TaskResult(kMentioned), "10368 task result: " + kMentioned + " state 30 (done)"},
        {LogRecord(10244, {CRow().Blob(1892, "<VELM/>")}), "10244 configuration export: <VELM/>"},
        {Encoded(escrow),
         "728 recovery escrow: 1 password(s), 0 data block(s), secrets masked in every output"},
        {Encoded(Message::Connectors::QUILConnector::CQUILRequest(1)), "9 QUILRequest: asks for licences"},
        {MaintenanceTask(), "EnableFDEMaintenanceMode task " + kTask + ", boots 3"},
    };
    std::vector<Record> records;
    for (const SummaryCase& c : cases) {
        records.push_back(c.record);
    }
    Store(records);
    std::istringstream out(Output({"--format", "summary"}));
    for (const SummaryCase& c : cases) {
        std::string line;
        ASSERT_TRUE(std::getline(out, line));
        EXPECT_NE(std::string::npos, line.find(c.line)) << line;
        EXPECT_EQ(std::string::npos, line.find("123456")) << line;
    }
}

struct Refusal {
    std::vector<std::string> arguments;
    std::string error;
};

TEST(LogsOptions, BadValuesAreRefusedNamingTheOption) {
    for (const Refusal& r : std::vector<Refusal>{
             {{"--limit", "ten"}, "--limit (-n) needs a number of messages, not 'ten'"},
             {{"-n", "-3"}, "--limit (-n) needs a number of messages, not '-3'"},
             {{"--format", "xml"}, "--format needs table, json or summary, not 'xml'"},
             {{"--task", "block-password"}, "--task needs a task identifier (a UUID), not 'block-password'"},
             {{"--since", "2026-1"}, "--since needs a UTC time"},
             {{"--until", "06.12.2026"}, "--until needs a UTC time or its start, like"},
             {{"--type", "10044", "--type", "x"}, "--type needs a message type number, not 'x'"},
             {{"--follow", "yes"}, "unexpected argument 'yes'"},
         }) {
        std::vector<std::string> arguments = {"logs"};
        arguments.insert(arguments.end(), r.arguments.begin(), r.arguments.end());
        try {
            CAgentOptions::Parse(arguments);
            ADD_FAILURE() << r.error;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(r.error)) << e.what();
        }
    }
    EXPECT_THROW(CAgentOptions::Parse({"send", "-n", "1", "{}"}), std::invalid_argument) << "-n is logs' own";
}

struct TimeCase {
    const char* option;
    const char* text;
    const char* fault;  // null for a time that is taken
};

// Both bounds go through the calendar check the task parser uses for a maintenance end.
const TimeCase kTimes[] = {
    {"--since", "2026-13", "month 13 does not exist"},
    {"--until", "2026-00-01", "month 0 does not exist"},
    {"--since", "2027-02-30", "February 2027 has 28 days, not 30"},
    {"--until", "2027-02-29T10", "February 2027 has 28 days, not 29"},
    {"--since", "2026-04-31", "April 2026 has 30 days, not 31"},
    {"--until", "2026-12-00", "December 2026 has 31 days, not 0"},
    {"--since", "2026-12-06T25", "hour 25 does not exist"},
    {"--until", "2026-12-06T10:99", "minute 99 does not exist"},
    {"--since", "2026-12-06T10:30:60Z", "second 60 does not exist"},
    {"--until", "1399", "the year must lie between 1400 and 9999"},
    {"--since", "2028-02-29", nullptr},
    {"--until", "2000-02-29T23:59:59.999Z", nullptr},
    {"--since", "2026-12-31T00:00", nullptr},
};

class LogsTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(LogsTimeTest, OnlyTimesOfTheCalendarAreTaken) {
    const TimeCase& c = GetParam();
    if (c.fault == nullptr) {
        EXPECT_NO_THROW(CAgentOptions::Parse({"logs", c.option, c.text}));
        return;
    }
    try {
        CAgentOptions::Parse({"logs", c.option, c.text});
        ADD_FAILURE() << c.text << " was taken";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(c.option) + " is no time of the calendar: '" + c.text + "' (" + c.fault + ")",
                  e.what());
    }
}

INSTANTIATE_TEST_SUITE_P(Bounds, LogsTimeTest, ::testing::ValuesIn(kTimes));

// The forms journalctl takes, as the prefix of the moment they name; `now` is read around the call.
TEST(LogsRelativeTimeTest, JournalctlFormsNameTheirMoment) {
    const auto at = [](Poco::Timespan::TimeDiff back, const char* format) {
        return Poco::DateTimeFormatter::format(Poco::Timestamp() - back, format);
    };
    const char* const day = "%Y-%m-%d";
    const char* const second = "%Y-%m-%dT%H:%M:%S";
    const struct {
        std::vector<std::string> arguments;
        std::string since;
        std::string until;
    } cases[] = {
        {{"--since", "today"}, at(0, day), ""},
        {{"--since=yesterday", "--until=today"}, at(Poco::Timespan::DAYS, day), at(0, day)},
        {{"--since", "2 hours ago"}, at(2 * Poco::Timespan::HOURS, second), ""},
        {{"--since", "1 week ago"}, at(7 * Poco::Timespan::DAYS, second), ""},
        {{"--until", "2027-01-01 10:00"}, "", "2027-01-01T10:00"},
        {{"--since=2027-01-01 10:00:05Z"}, "2027-01-01T10:00:05", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"logs"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CAgentOptions options = CAgentOptions::Parse(arguments);
        // A second may pass between the expectation and the parse; the prefix up to the minute holds.
        EXPECT_EQ(c.since.substr(0, 16), options.since.substr(0, 16)) << c.arguments[0];
        EXPECT_EQ(c.until.substr(0, 16), options.until.substr(0, 16)) << c.arguments[0];
    }
    for (const char* bad : {"3 fortnights ago", "tomorrow", "hours ago", "2027-01-01  10:00"}) {
        EXPECT_THROW(CAgentOptions::Parse({"logs", "--since", bad}), std::invalid_argument) << bad;
    }
}

}  // namespace

namespace {

using Zun::Tools::Agent::CMessageSummary;

// What the server's fleet list keeps of a storage status and a licence log, read from the stored
// content without building it: only symbols inside the rows count, the first row's level, the
// soonest expiry of any row.
TEST(StoredSymbolsTest, TheFleetsReadingsTakeOnlyTheRowsSymbols) {
    const struct {
        const char* content;
        const char* storage;
        const char* expiry;
    } cases[] = {
        {R"({"rows":[]})", "no record in order", ""},
        {R"({})", "no record in order", ""},
        {R"({"rows":[[{"id":4670,"type":"uuid","value":"u"},{"id":4672,"type":"int","value":1}]]})",
         "in order, level 1", ""},
        {R"({"rows":[[{"id":2698,"value":"2031-01-01T00:00:00Z"}],[{"id":2693,"value":"L"}],)"
         R"([{"id":2698,"type":"time_date","value":"2030-05-01T00:00:00Z"}]]})",
         "in order, level ", "2030-05-01T00:00:00Z"},
        {R"({"product":[{"id":2698,"value":"2000-01-01T00:00:00Z"},{"id":4672,"value":9}],)"
         R"("rows":[[{"id":2698,"value":"2030-01-01T00:00:00Z","extra":{"value":"1999"}}]]})",
         "in order, level ", "2030-01-01T00:00:00Z"},
        {R"({"rows":[[{"id":2698,"type":"empty"}]]})", "in order, level ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CMessageSummary::Storage(c.content), c.storage) << c.content;
        EXPECT_EQ(CMessageSummary::SoonestExpiry(c.content), c.expiry) << c.content;
    }
    for (const char* damaged : {"{", "", "[1,", "not json"}) {
        EXPECT_THROW(CMessageSummary::Storage(damaged), std::runtime_error) << damaged;
    }
}

}  // namespace
