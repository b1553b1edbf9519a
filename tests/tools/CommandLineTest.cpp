#include <Poco/File.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/CAgentProcess.h"
#include "tools/ExitCodes.h"

namespace {

using Zun::Testing::CAgentProcess;
namespace ExitCode = Zun::Tools::ExitCode;

const std::chrono::seconds kDeadline(30);

struct CommandLineCase {
    const char* name;
    const char* binary;
    std::vector<std::string> arguments;
    int code;
    const char* text;  // on standard output or error
};

// What each program answers before it does any work.
const CommandLineCase kCases[] = {
    {"AgentVersion", QUIL_AGENT_PATH, {"--version"}, ExitCode::kOk, "quil-agent " QUIL_VERSION_TEXT},
    {"AgentHelp", QUIL_AGENT_PATH, {"--help"}, ExitCode::kOk, "quil-agent logs"},
    {"AgentRunHelp", QUIL_AGENT_PATH, {"run", "--help"}, ExitCode::kOk, "--log-level LEVEL"},
    {"AgentSendHelp", QUIL_AGENT_PATH, {"send", "--help"}, ExitCode::kOk, "hands one task"},
    {"AgentLogsHelp", QUIL_AGENT_PATH, {"logs", "--help"}, ExitCode::kOk, "quil-agent logs"},
    {"AgentNoCommand", QUIL_AGENT_PATH, {}, ExitCode::kUsage, "usage:"},
    {"AgentUnknownCommand", QUIL_AGENT_PATH, {"start"}, ExitCode::kUsage, "unknown command 'start'"},
    {"AgentUnknownOption", QUIL_AGENT_PATH, {"run", "--colour", "red"}, ExitCode::kUsage, "'--colour'"},
    {"AgentBadLevel", QUIL_AGENT_PATH, {"run", "--log-level", "LOUD"}, ExitCode::kUsage, "'LOUD'"},
    {"AgentBadProductAccount",
     QUIL_AGENT_PATH,
     {"run", "--product-account", "LocalSystem"},
     ExitCode::kUsage,
     "--product-account needs a security identifier (S-1-5-18), not 'LocalSystem'"},
    {"AgentMissingConfig",
     QUIL_AGENT_PATH,
     {"run", "--config", "/nonexistent/agent.conf"},
     ExitCode::kNoInput,
     "/nonexistent/agent.conf"},
    {"AgentPrintConfig",
     QUIL_AGENT_PATH,
     {"--print-config", "--keep-days", "3"},
     ExitCode::kOk,
     "option --keep-days"},
    {"AgentMisspelledCommand", QUIL_AGENT_PATH, {"sned"}, ExitCode::kUsage, "did you mean 'send'?"},
    {"AgentBadOptionShowsItsCommandOnly",
     QUIL_AGENT_PATH,
     {"logs", "--limit", "x"},
     ExitCode::kUsage,
     "usage:\n  quil-agent logs"},
    {"AgentSendPrintConfig", QUIL_AGENT_PATH, {"send", "--print-config"}, ExitCode::kOk, "control"},
    {"AgentSendWithoutTask", QUIL_AGENT_PATH, {"send"}, ExitCode::kUsage, "send needs a task"},
    {"ProductVersion", QUIL_PRODUCT_PATH, {"--version"}, ExitCode::kOk, "quil-product " QUIL_VERSION_TEXT},
    {"ProductHelp", QUIL_PRODUCT_PATH, {"--help"}, ExitCode::kOk, "quil-product serve"},
    {"ProductServeHelp", QUIL_PRODUCT_PATH, {"serve", "--help"}, ExitCode::kOk, "--lpc-only"},
    {"ProductCtlHelp", QUIL_PRODUCT_PATH, {"ctl", "--help"}, ExitCode::kOk, "@FILE"},
    {"ProductNoCommand", QUIL_PRODUCT_PATH, {}, ExitCode::kUsage, "no command given"},
    {"ProductUnknownCommand", QUIL_PRODUCT_PATH, {"start"}, ExitCode::kUsage, "unknown command start"},
    {"ProductMisspelledCommand", QUIL_PRODUCT_PATH, {"instal"}, ExitCode::kUsage, "did you mean 'install'?"},
    {"ProductCommandHelpOnce",
     QUIL_PRODUCT_PATH,
     {"check-state", "--help"},
     ExitCode::kOk,
     "usage:\n  quil-product check-state FILE\n      checks"},
    {"ProductEmptyVersion",
     QUIL_PRODUCT_PATH,
     {"install", "--version", ""},
     ExitCode::kUsage,
     "--version needs a value"},
    {"ProductUnknownOption", QUIL_PRODUCT_PATH, {"serve", "--colour"}, ExitCode::kUsage, "--colour"},
    {"DemoVersion", QUIL_DEMO_PATH, {"--version"}, ExitCode::kOk, "quil-demo " QUIL_VERSION_TEXT},
    {"DemoHelp", QUIL_DEMO_PATH, {"--help"}, ExitCode::kOk, "--keep"},
    {"DemoUnknownOption", QUIL_DEMO_PATH, {"--colour"}, ExitCode::kUsage, "'--colour'"},
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, AnswersWithItsExitCode) {
    const CommandLineCase& c = GetParam();
    std::string output;
    std::string errors;
    EXPECT_EQ(c.code, CAgentProcess::Run(c.binary, c.arguments, output, errors, kDeadline))
        << output << errors;
    EXPECT_NE(std::string::npos, (output + errors).find(c.text)) << output << errors;
}

INSTANTIATE_TEST_SUITE_P(Programs, CommandLineTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CommandLineCase>& info) {
                             return info.param.name;
                         });

// The help words with a configuration in place: its settings must not be taken for the command.
struct HelpCase {
    const char* name;
    std::vector<std::string> arguments;
    int code;
    const char* shown;
    const char* notShown;  // null when anything else may appear
};

const HelpCase kHelpCases[] = {
    {"LongOption", {"--help"}, ExitCode::kOk, "quil-agent logs", nullptr},
    {"ShortOption", {"-h"}, ExitCode::kOk, "quil-agent logs", nullptr},
    {"Word", {"help"}, ExitCode::kOk, "quil-agent status", nullptr},
    {"WordForRun", {"help", "run"}, ExitCode::kOk, "--log-level LEVEL", "quil-agent logs"},
    {"OptionAfterCommand", {"status", "--help"}, ExitCode::kOk, "quil-agent status", "quil-agent run"},
    {"UnknownTopic", {"help", "start"}, ExitCode::kUsage, "unexpected argument 'start'", nullptr},
};

enum class ConfigurationIn { File, Environment };

// A configuration file that names a database and control socket, and QUIL_AGENT_DB cleared after.
class ConfiguredAgentTest : public ::testing::Test {
protected:
    ConfiguredAgentTest() {
        char pattern[] = "/tmp/quil-help-test-XXXXXX";
        m_folder = mkdtemp(pattern);
        m_file = m_folder + "/agent.conf";
        std::ofstream(m_file) << "database = " << m_folder << "/agent.db\ncontrol = " << m_folder
                              << "/agent.sock\nkeep-days = 3\n";
        chmod(m_file.c_str(), 0600);
    }
    ~ConfiguredAgentTest() override {
        unsetenv("QUIL_AGENT_DB");
        Poco::File(m_folder).remove(true);
    }

    std::string m_folder;
    std::string m_file;
};

class HelpWithConfigurationTest
    : public ConfiguredAgentTest,
      public ::testing::WithParamInterface<std::tuple<HelpCase, ConfigurationIn>> {};

TEST_P(HelpWithConfigurationTest, ShowsTheUsage) {
    const HelpCase& c = std::get<0>(GetParam());
    std::vector<std::string> arguments = c.arguments;
    if (std::get<1>(GetParam()) == ConfigurationIn::File) {
        arguments.insert(arguments.end(), {"--config", m_file});
    } else {
        setenv("QUIL_AGENT_DB", (m_folder + "/agent.db").c_str(), 1);
    }
    std::string output;
    std::string errors;
    EXPECT_EQ(c.code, CAgentProcess::Run(QUIL_AGENT_PATH, arguments, output, errors, kDeadline))
        << output << errors;
    EXPECT_NE(std::string::npos, (output + errors).find(c.shown)) << output << errors;
    if (c.notShown != nullptr) {
        EXPECT_EQ(std::string::npos, output.find(c.notShown)) << output;
    }
}

INSTANTIATE_TEST_SUITE_P(Agent, HelpWithConfigurationTest,
                         ::testing::Combine(::testing::ValuesIn(kHelpCases),
                                            ::testing::Values(ConfigurationIn::File,
                                                              ConfigurationIn::Environment)),
                         [](const ::testing::TestParamInfo<std::tuple<HelpCase, ConfigurationIn>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == ConfigurationIn::File ? "InFile"
                                                                                      : "InEnvironment");
                         });

TEST_F(ConfiguredAgentTest, NoCommandShowsTheUsageAsABadCommandLine) {
    setenv("QUIL_AGENT_DB", (m_folder + "/agent.db").c_str(), 1);
    std::string output;
    std::string errors;
    EXPECT_EQ(ExitCode::kUsage, CAgentProcess::Run(QUIL_AGENT_PATH, {}, output, errors, kDeadline)) << errors;
    EXPECT_NE(std::string::npos, output.find("usage:")) << output << errors;
}

}  // namespace
