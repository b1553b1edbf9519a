#include <gtest/gtest.h>

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
    {"ProductVersion", QUIL_PRODUCT_PATH, {"--version"}, ExitCode::kOk, "quil-product " QUIL_VERSION_TEXT},
    {"ProductHelp", QUIL_PRODUCT_PATH, {"--help"}, ExitCode::kOk, "quil-product serve"},
    {"ProductServeHelp", QUIL_PRODUCT_PATH, {"serve", "--help"}, ExitCode::kOk, "--lpc-only"},
    {"ProductCtlHelp", QUIL_PRODUCT_PATH, {"ctl", "--help"}, ExitCode::kOk, "@FILE"},
    {"ProductNoCommand", QUIL_PRODUCT_PATH, {}, ExitCode::kUsage, "no command given"},
    {"ProductUnknownCommand", QUIL_PRODUCT_PATH, {"start"}, ExitCode::kUsage, "unknown command start"},
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

}  // namespace
