#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/agent/CAgentConfiguration.h"
#include "tools/agent/CAgentOptions.h"
#include "tools/agent/control/CTaskParser.h"
#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/common/CStrictJson.h"

namespace {

using namespace Zun::Tools::Agent;

std::string Refusal(const std::function<void()>& call) {
    try {
        call();
        return std::string();
    } catch (const std::exception& e) {
        return e.what();
    }
}

// Every numeric setting of `run` and `send`, with the largest value it takes.
struct NumericSetting {
    const char* option;
    const char* variable;  // empty: a command-line option only
    const char* command;
    int64_t maximum;
};

const NumericSetting kNumericSettings[] = {
    {"--keep-rows", "QUIL_AGENT_KEEP_ROWS", "run", 1000000000LL},
    {"--keep-days", "QUIL_AGENT_KEEP_DAYS", "run", 36500},
    {"--log-max-bytes", "QUIL_AGENT_LOG_MAX_BYTES", "run", 1LL << 40},
    {"--max-queued", "QUIL_AGENT_MAX_QUEUED", "run", 10000000},
    {"--grace-ms", "QUIL_AGENT_GRACE_MS", "run", 3600000},
    {"--timeout", "", "send", 7 * 24 * 3600},
};

class NumericSettingTest : public ::testing::TestWithParam<NumericSetting> {};

// A value past the bound, from the command line or the environment, is refused by name; the bound
// itself is taken. The values that overflowed where they were used are among the refused.
TEST_P(NumericSettingTest, OutOfRangeIsRefusedByNameWhereverItComesFrom) {
    const NumericSetting& s = GetParam();
    const std::string largest = std::to_string(s.maximum);
    std::vector<std::string> arguments = {s.command, s.option, largest};
    if (std::string(s.command) == "send") {
        arguments.push_back("{}");
    }
    EXPECT_EQ("", Refusal([&] { CAgentOptions::Parse(arguments); }));
    for (const std::string& value : {std::to_string(s.maximum + 1), std::string("999999999999999"),
                                     std::string("9999999999999999999999"), std::string("-1"),
                                     std::string("1e9"), std::string("0x10")}) {
        arguments[2] = value;
        const std::string refusal = Refusal([&] { CAgentOptions::Parse(arguments); });
        EXPECT_NE(std::string::npos, refusal.find(std::string(s.option) + " needs a whole number from 0 to " +
                                                  largest + ", not '" + value + "'"))
            << refusal;
        if (*s.variable != '\0') {
            const std::string fromEnvironment = Refusal([&] {
                CAgentConfiguration({s.command}, {{s.variable, value}}, std::string());
            });
            EXPECT_NE(std::string::npos, fromEnvironment.find(std::string(s.variable) + ": " + s.option))
                << fromEnvironment;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, NumericSettingTest, ::testing::ValuesIn(kNumericSettings),
                         [](const ::testing::TestParamInfo<NumericSetting>& info) {
                             std::string name;
                             for (const char* c = info.param.option + 2; *c != '\0'; ++c) {
                                 name += *c == '-' ? '_' : *c;
                             }
                             return name;
                         });

// The longest retention there is still keeps the rows of today.
TEST(NumericSettingLimitTest, TheLongestRetentionKeepsEveryRecentRow) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string database = root.Path() + "/var/agent.db";
    const CAgentOptions options =
        CAgentOptions::Parse({"run", "--keep-days", "36500", "--keep-rows", "1000000000"});
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        for (int i = 0; i < 3; ++i) {
            store.Append(CAgentStore::Record());
        }
    }
    CAgentStore store(database, CAgentStore::Mode::Create,
                      CAgentStore::Limits{options.keepRows, options.keepDays, false});
    EXPECT_EQ(3u, store.Query(CAgentStore::Filter()).size());
}

}  // namespace

namespace {

// Ways an agent.db is cut short: by a full disk, a bad copy, a crash of the file system.
struct Truncation {
    const char* name;
    off_t (*size)(off_t whole);
    bool keepWal;  // the write-ahead log is left beside it
};

class TruncatedDatabaseTest : public ::testing::TestWithParam<Truncation> {};

TEST_P(TruncatedDatabaseTest, GoesAsideWithAWarningAndAFreshOneWorks) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string database = root.Path() + "/var/agent.db";
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        CAgentStore::Record record;
        record.content = std::string(1000, 'c');
        store.InTransaction([&] {
            for (int i = 0; i < 200; ++i) {
                store.Append(record);
            }
        });
    }
    struct stat info;
    ASSERT_EQ(0, stat(database.c_str(), &info));
    ASSERT_EQ(0, truncate(database.c_str(), GetParam().size(info.st_size)));
    if (!GetParam().keepWal) {
        unlink((database + "-wal").c_str());
        unlink((database + "-shm").c_str());
    }
    std::unique_ptr<CAgentStore> store;
    ASSERT_EQ("", Refusal([&] { store.reset(new CAgentStore(database, CAgentStore::Mode::Create)); }));
    const std::vector<std::string> notices = store->TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_NE(std::string::npos, notices[0].find(database + " is damaged")) << notices[0];
    EXPECT_NE(std::string::npos, notices[0].find("moved aside to " + database + ".damaged-")) << notices[0];
    EXPECT_EQ(1, store->Append(CAgentStore::Record()));
    store.reset();
    CAgentStore again(database, CAgentStore::Mode::Create);
    EXPECT_TRUE(again.TakeNotices().empty()) << "the fresh one is whole";
    EXPECT_EQ(1u, again.Query(CAgentStore::Filter()).size());
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, TruncatedDatabaseTest,
    ::testing::Values(Truncation{"Half", [](off_t whole) { return whole / 2; }, false},
                      Truncation{"HalfWithItsLog", [](off_t whole) { return whole / 2; }, true},
                      Truncation{"FirstPage", [](off_t) { return off_t(4096); }, false},
                      Truncation{"HeaderOnly", [](off_t) { return off_t(100); }, false},
                      Truncation{"MagicOnly", [](off_t) { return off_t(16); }, false},
                      Truncation{"WithinTheMagic", [](off_t) { return off_t(9); }, false}),
    [](const ::testing::TestParamInfo<Truncation>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Field names an attacker spells differently so that a check on the raw text sees two names and the
// parser one: the second would silently replace the first.
struct Spelling {
    const char* name;
    const char* text;
    const char* refused;  // empty: the names differ and the text passes
};

class EscapedNameTest : public ::testing::TestWithParam<Spelling> {};

TEST_P(EscapedNameTest, NamesAreComparedAsTheParserReadsThem) {
    const Spelling& s = GetParam();
    const std::string refusal = Refusal([&] { Zun::Tools::CStrictJson::Check(s.text); });
    if (*s.refused == '\0') {
        EXPECT_EQ("", refusal);
    } else {
        EXPECT_NE(std::string::npos, refusal.find(std::string(s.refused) + ": given more than once"))
            << refusal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, EscapedNameTest,
    ::testing::Values(
        Spelling{"OneEscapedLetter", R"({"task":"block-password","t\u0061sk":"wipe-password"})", "task"},
        Spelling{"AllEscapedUpperCase",
                 R"({"task":1,"\u0074\u0041\u0053\u004B":2,"\u0074\u0061\u0073\u006B":3})", "task"},
        Spelling{"EscapedFirst", R"({"\u0074ask":"wipe-password","task":"block-password"})", "task"},
        Spelling{"ShortEscapes", R"({"a\/b\tc":1,"a/b\u0009c":2})", "a/b\tc"},
        Spelling{"EscapedQuote", R"({"a\"b":1,"a\u0022b":2})", "a\"b"},
        Spelling{"SurrogatePair", "{\"\\ud83d\\ude00\":1,\"\xF0\x9F\x98\x80\":2}", "\xF0\x9F\x98\x80"},
        Spelling{"TwoByteForm", "{\"\\u00e9\":1,\"\xC3\xA9\":2}", "\xC3\xA9"},
        Spelling{"Nested", R"({"passwords":[{"id":1,"\u0069d":2}]})", "passwords[0].id"},
        Spelling{"DistinctNames", R"({"a\nb":1,"anb":2,"\u0061":3,"\\u0061":4})", ""},
        Spelling{"LoneSurrogatesDiffer", R"({"\ud800":1,"\udc00":2,"\ud800x":3})", ""}),
    [](const ::testing::TestParamInfo<Spelling>& info) { return std::string(info.param.name); });

// The task line the agent takes: the escaped second "task" does not turn a block into a wipe.
TEST(EscapedNameTaskTest, AnEscapedSecondTaskIsRefused) {
    CTaskParser parser([] { return std::string("11111111-2222-3333-4444-555555555555"); });
    const std::string refusal =
        Refusal([&] { parser.Parse(R"({"task":"block-password","t\u0061sk":"wipe-password"})"); });
    EXPECT_NE(std::string::npos, refusal.find("'task' given more than once")) << refusal;
}

}  // namespace

namespace {

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A folder at the rotated name keeps the log from rotating, not from being written: the file goes on
// and rotates once the name is free again.
TEST(LogRotationTest, AFolderAtTheRotatedNameDoesNotEndFileLogging) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "/var";
    const std::string log = folder + "/agent.log";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    const std::string rotated = CAgentLogger::RotatedName(log);
    ASSERT_EQ(0, mkdir(rotated.c_str(), 0700));
    std::ostringstream stream;
    const uint64_t limit = 1000;
    CAgentLogger logger(stream, log, limit);
    const std::string line(90, 'x');
    for (int i = 0; i < 30; ++i) {
        logger.Write(line, CAgentLogger::Level::Info, "test");
    }
    logger.Write("still written", CAgentLogger::Level::Info, "test");
    EXPECT_NE(std::string::npos, Contents(log).find("still written"));
    EXPECT_NE(std::string::npos, stream.str().find("Cannot rotate the log file")) << "said so on stderr";

    ASSERT_EQ(0, rmdir(rotated.c_str()));
    for (int i = 0; i < 30; ++i) {
        logger.Write(line, CAgentLogger::Level::Info, "test");
    }
    logger.Write("after the rotation", CAgentLogger::Level::Info, "test");
    struct stat info;
    ASSERT_EQ(0, lstat(rotated.c_str(), &info));
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "rotated once the name was free";
    EXPECT_NE(std::string::npos, Contents(log).find("after the rotation"));
    EXPECT_LT(Contents(log).size(), 2 * limit);
}

}  // namespace
