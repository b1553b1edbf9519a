#include <Poco/File.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/ExitCodes.h"
#include "tools/agent/CAgentConfiguration.h"
#include "tools/agent/CAgentOptions.h"
#include "tools/agent/CConfigurationFile.h"
#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/host/CJournalStream.h"

namespace {

using namespace Zun::Tools::Agent;
namespace ExitCode = Zun::Tools::ExitCode;
typedef CAgentConfiguration::Source Source;

class AgentConfigurationTest : public ::testing::Test {
protected:
    AgentConfigurationTest() {
        char pattern[] = "/tmp/quil-config-test-XXXXXX";
        folder = mkdtemp(pattern);
        file = folder + "/agent.conf";
    }
    ~AgentConfigurationTest() override { Poco::File(folder).remove(true); }

    void WriteFile(const std::string& text, mode_t mode = 0600) {
        std::ofstream(file) << text;
        chmod(file.c_str(), mode);
    }

    std::string folder;
    std::string file;
};

struct PrecedenceCase {
    const char* name;
    bool inFile;
    bool asOption;
    bool inEnvironment;
    const char* expected;  // keep-rows
    Source source;
};

// Each layer gives keep-rows its own value, so the value that wins names its layer.
const PrecedenceCase kPrecedence[] = {
    {"NothingGivenKeepsTheDefault", false, false, false, "100000", Source::Default},
    {"FileAloneIsUsed", true, false, false, "1", Source::File},
    {"OptionOverridesFile", true, true, false, "2", Source::Option},
    {"EnvironmentOverridesFile", true, false, true, "3", Source::Environment},
    {"OptionOverridesEnvironment", false, true, true, "2", Source::Option},
    {"OptionOverridesBoth", true, true, true, "2", Source::Option},
};

class PrecedenceTest : public AgentConfigurationTest, public ::testing::WithParamInterface<PrecedenceCase> {};

TEST_P(PrecedenceTest, LaterLayerWins) {
    const PrecedenceCase& c = GetParam();
    WriteFile(c.inFile ? "keep-rows = 1\n" : "# nothing\n");
    std::vector<std::string> arguments = {"run", "--config", file};
    if (c.asOption) {
        arguments.insert(arguments.end(), {"--keep-rows", "2"});
    }
    CAgentConfiguration::Environment environment;
    if (c.inEnvironment) {
        environment["QUIL_AGENT_KEEP_ROWS"] = "3";
    }
    const CAgentConfiguration configuration(arguments, environment, "");
    const CAgentOptions options = CAgentOptions::Parse(configuration.Arguments());
    EXPECT_EQ(std::stoll(c.expected), options.keepRows);
    EXPECT_EQ(c.source, configuration.SourceOf("keep-rows"));

    std::ostringstream printed;
    configuration.Print(printed, options);
    const char* const names[] = {"default", "file ", "option --keep-rows",
                                 "environment QUIL_AGENT_KEEP_ROWS"};
    const std::string row = printed.str().substr(printed.str().find("\nkeep-rows") + 1);
    EXPECT_NE(std::string::npos, row.substr(0, row.find('\n')).find(names[static_cast<int>(c.source)]))
        << printed.str();
    EXPECT_NE(std::string::npos, row.substr(0, row.find('\n')).find(c.expected)) << printed.str();
}

INSTANTIATE_TEST_SUITE_P(Layers, PrecedenceTest, ::testing::ValuesIn(kPrecedence),
                         [](const ::testing::TestParamInfo<PrecedenceCase>& info) {
                             return info.param.name;
                         });

TEST_F(AgentConfigurationTest, EverySettingIsReadFromTheFile) {
    WriteFile("object-root = " + folder + "/objects\ndatabase = " + folder +
              "/db/agent.db\nmodule = /opt/m.so\nlog-file = " + folder +
              "/a.log\nlog-level = trace\nlog-max-bytes = 11\nkeep-rows = 12\nkeep-days = 13\n"
              "max-queued = 14\ngrace-ms = 15\ncontrol = " +
              folder + "/c.sock\nserver = quil.example:7443\nserver-bundle = " + folder +
              "/pc.pem\nproduct-account = S-1-5-21-1-2-3-1001\n");
    const CAgentConfiguration configuration({"run", "--config", file}, {}, "");
    const CAgentOptions o = CAgentOptions::Parse(configuration.Arguments());
    EXPECT_EQ(folder + "/objects", o.objectRoot);
    EXPECT_EQ(folder + "/objects", configuration.ObjectRoot());
    EXPECT_EQ(folder + "/db/agent.db", o.database);
    EXPECT_EQ("/opt/m.so", o.module);
    EXPECT_EQ(folder + "/a.log", o.logFile);
    EXPECT_EQ("TRACE", o.logLevel);
    EXPECT_EQ(std::vector<int64_t>({11, 12, 13, 14, 15}),
              std::vector<int64_t>({o.logMaxBytes, o.keepRows, o.keepDays, o.maxQueuedTasks, o.graceMs}));
    EXPECT_EQ(folder + "/c.sock", o.control);
    EXPECT_EQ("quil.example:7443", o.server);
    EXPECT_EQ(folder + "/pc.pem", o.serverBundle);
    EXPECT_EQ("S-1-5-21-1-2-3-1001", o.productAccount);
    for (const CAgentConfiguration::Setting& setting : CAgentConfiguration::Settings()) {
        EXPECT_EQ(Source::File, configuration.SourceOf(setting.key)) << setting.key;
    }
}

// Windows paths keep their backslashes: a value is never read as escapes.
TEST_F(AgentConfigurationTest, ValuesAreTakenLiterally) {
    WriteFile(
        "log-file = C:\\quil\\agent.log\ndatabase = C:\\quil\\t\\n.db\nmodule = \\\\server\\share\\m.dll\n");
    const CAgentOptions o =
        CAgentOptions::Parse(CAgentConfiguration({"run", "--config", file}, {}, "").Arguments());
    EXPECT_EQ("C:\\quil\\agent.log", o.logFile);
    EXPECT_EQ("C:\\quil\\t\\n.db", o.database);
    EXPECT_EQ("\\\\server\\share\\m.dll", o.module);
}

TEST_F(AgentConfigurationTest, LogAndSocketFollowADatabaseFromTheFile) {
    WriteFile("database = " + folder + "/state/agent.db\n");
    const CAgentOptions o =
        CAgentOptions::Parse(CAgentConfiguration({"send", "--config", file, "{}"}, {}, "").Arguments());
    EXPECT_EQ(folder + "/state/agent.sock", o.control);
}

TEST_F(AgentConfigurationTest, SettingsOfRunAloneAreIgnoredByTheOtherCommands) {
    WriteFile("keep-days = 3\n");
    const CAgentConfiguration configuration({"logs", "--config", file}, {{"QUIL_AGENT_GRACE_MS", "x"}}, "");
    EXPECT_EQ(std::vector<std::string>({"logs"}), configuration.Arguments());
}

struct RefusalCase {
    const char* name;
    const char* text;  // the file's; null for none
    const char* variable;
    const char* value;
    int code;
    const char* named;  // what the error names
};

const RefusalCase kRefusals[] = {
    {"UnknownKey", "colour = red\n", "", "", ExitCode::kConfig, "line 1: unknown key 'colour'"},
    {"DuplicateKey", "keep-rows = 1\n# later\n\nkeep-rows = 2\n", "", "", ExitCode::kConfig,
     "line 4: 'keep-rows' is given again (first on line 1)"},
    {"LineWithoutValue", "keep-rows = 1\nkeep-days 3\n", "", "", ExitCode::kConfig,
     "line 2: expected 'key = value', not 'keep-days 3'"},
    {"LineWithoutKey", "= 3\n", "", "", ExitCode::kConfig, "line 1: expected 'key = value'"},
    {"BadNumberInFile", "keep-rows = many\n", "", "", ExitCode::kConfig, "keep-rows"},
    {"BadLevelInFile", "log-level = loud\n", "", "", ExitCode::kConfig, "loud"},
    {"BadNumberInEnvironment", "", "QUIL_AGENT_MAX_QUEUED", "-1", ExitCode::kConfig, "QUIL_AGENT_MAX_QUEUED"},
    {"ServerWithoutPort", "server = quil.example\n", "", "", ExitCode::kConfig, "HOST:PORT"},
    {"ServerPortOutOfRange", "", "QUIL_AGENT_SERVER", "quil.example:70000", ExitCode::kConfig,
     "QUIL_AGENT_SERVER"},
    {"MissingFile", nullptr, "", "", ExitCode::kNoInput, "does not exist"},
};

class RefusalTest : public AgentConfigurationTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, NamesTheFaultWithItsExitCode) {
    const RefusalCase& c = GetParam();
    if (c.text != nullptr) {
        WriteFile(c.text);
    }
    CAgentConfiguration::Environment environment;
    if (*c.variable != '\0') {
        environment[c.variable] = c.value;
    }
    try {
        CAgentConfiguration({"run", "--config", file}, environment, "");
        FAIL() << "accepted";
    } catch (const CAgentConfiguration::CError& e) {
        EXPECT_EQ(c.code, e.Code());
        EXPECT_NE(std::string::npos, std::string(e.what()).find(c.named)) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST_F(AgentConfigurationTest, AFileOthersCanWriteIsRefused) {
    WriteFile("keep-rows = 1\n", 0622);
    try {
        CAgentConfiguration({"run", "--config", file}, {}, "");
        FAIL() << "accepted";
    } catch (const CAgentConfiguration::CError& e) {
        EXPECT_EQ(ExitCode::kNoPermission, e.Code()) << e.what();
    }
}

TEST_F(AgentConfigurationTest, TheDefaultFileIsReadOnlyWhenItExists) {
    EXPECT_EQ(std::vector<std::string>({"run"}),
              CAgentConfiguration({"run"}, {}, folder + "/none.conf").Arguments());
    WriteFile("grace-ms = 9\n");
    EXPECT_EQ(9, CAgentOptions::Parse(CAgentConfiguration({"run"}, {}, file).Arguments()).graceMs);
}

// The module writes the product's raw documents at its level 1.
struct FileFormatCase {
    const char* name;
    const char* text;
    std::map<std::string, std::string> entries;
};

const FileFormatCase kFileFormats[] = {
    {"SpacesAroundKeyAndValue", "  database =  /var/a b.db  \n", {{"database", "/var/a b.db"}}},
    {"ColonAndNoSpaces", "database:/a\ncontrol=/c", {{"database", "/a"}, {"control", "/c"}}},
    {"CommentsAndBlankLines",
     "# database = /x\n\n  ! control = /y\n\t\nkeep-rows = 5 # not a comment\n",
     {{"keep-rows", "5 # not a comment"}}},
    {"OnlyTheFirstSeparatorSplits", "server = quil.example:7443\n", {{"server", "quil.example:7443"}}},
    {"CrLfLines", "database = /a\r\ncontrol = /c\r\n", {{"database", "/a"}, {"control", "/c"}}},
    // As Poco::Util read it: the continued line keeps its leading white space.
    {"ContinuedValue",
     "database = /very/\\\n    long.db\nmodule = x\\\r\ny\n",
     {{"database", "/very/    long.db"}, {"module", "xy"}}},
    {"Escapes", "module = a\\tb\\\\c\\#d\\", {{"module", "a\tb\\c#d"}}},
    {"KeyWithoutValue", "database\ncontrol =\n", {{"database", ""}, {"control", ""}}},
    {"LastOfTwoWins", "keep-rows = 1\nkeep-rows = 2\n", {{"keep-rows", "2"}}},
    {"Empty", "", {}},
};

class FileFormatTest : public ::testing::TestWithParam<FileFormatCase> {};

TEST_P(FileFormatTest, ReadsWhatTheLinesSay) {
    EXPECT_EQ(GetParam().entries, CConfigurationFile::Parse(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Lines, FileFormatTest, ::testing::ValuesIn(kFileFormats),
                         [](const ::testing::TestParamInfo<FileFormatCase>& info) {
                             return info.param.name;
                         });

TEST(AgentLoggerLevelTest, RawDocumentsAppearAtTraceOnly) {
    const std::string document = "Protection status log raw content: <Status/>";
    for (const auto& threshold :
         {CAgentLogger::Level::Trace, CAgentLogger::Level::Debug, CAgentLogger::Level::Info}) {
        std::ostringstream stream;
        CAgentLogger logger(stream, "", 0, threshold);
        logger.Write(document, 1, "CQUILConnectorModule");
        logger.Write("Connecting to product", 2, "CQUILConnectorModule");
        logger.Write("Stored #1", CAgentLogger::Level::Debug, "quil-agent");
        const std::string text = stream.str();
        const bool trace = threshold == CAgentLogger::Level::Trace;
        EXPECT_EQ(trace, text.find(" TRACE CQUILConnectorModule: " + document) != std::string::npos) << text;
        EXPECT_EQ(threshold <= CAgentLogger::Level::Debug,
                  text.find(" DEBUG quil-agent: Stored #1") != std::string::npos);
        EXPECT_NE(std::string::npos, text.find(" INFO CQUILConnectorModule: Connecting to product"));
    }
}

// In the journal each line carries its level's syslog priority and no time of ours; the file keeps
// its times whatever the stream is.
TEST(AgentLoggerLevelTest, JournalLinesOpenWithTheirPriority) {
    const struct {
        CAgentLogger::Level level;
        const char* line;
    } cases[] = {
        {CAgentLogger::Level::Trace, "<7>TRACE quil-agent: a\\nb\n"},
        {CAgentLogger::Level::Debug, "<7>DEBUG quil-agent: a\\nb\n"},
        {CAgentLogger::Level::Info, "<6>INFO quil-agent: a\\nb\n"},
        {CAgentLogger::Level::Warn, "<4>WARN quil-agent: a\\nb\n"},
        {CAgentLogger::Level::Error, "<3>ERROR quil-agent: a\\nb\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream stream;
        CAgentLogger(stream, "", 0, CAgentLogger::Level::Trace, CAgentLogger::Stream::Journal)
            .Write("a\nb", c.level, "quil-agent");
        EXPECT_EQ(c.line, stream.str());
    }
}

// JOURNAL_STREAM names the journal's stream by device and inode; only the very stream matches.
TEST(AgentLoggerLevelTest, TheJournalIsKnownByItsDeviceAndInode) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    struct stat status {};
    ASSERT_EQ(0, fstat(ends[1], &status));
    const std::string device = std::to_string(status.st_dev);
    const std::string inode = std::to_string(status.st_ino);
    EXPECT_TRUE(CJournalStream::Matches(ends[1], device + ":" + inode));
    for (const std::string& other :
         {device + ":" + std::to_string(status.st_ino + 1), inode + ":" + device, device + ":" + inode + "x",
          device + inode, std::string(), std::string(":")}) {
        EXPECT_FALSE(CJournalStream::Matches(ends[1], other)) << other;
    }
    close(ends[0]);
    close(ends[1]);
}

TEST(AgentLoggerLevelTest, LevelsAreNamedInAnyCase) {
    EXPECT_EQ(CAgentLogger::Level::Warn, CAgentLogger::ParseLevel("warn"));
    EXPECT_EQ("ERROR", CAgentLogger::LevelName(CAgentLogger::ParseLevel("Error")));
    EXPECT_THROW(CAgentLogger::ParseLevel("WARNING"), std::invalid_argument);
}

}  // namespace
