#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/ExitCodes.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/control/CControlServer.h"

namespace {

using namespace Zun::Tools::Agent;
namespace ExitCode = Zun::Tools::ExitCode;

struct SendCase {
    const char* name;
    std::string task;  // written to a file and sent as @FILE
    bool wait;
    int code;
    const char* error;
};

const size_t kMaxLine = CControlServer::kMaxLine;
const std::string kLongest = "{\"task\":\"" + std::string(kMaxLine - 11, 'x') + "\"}";

// Refused before anything is sent: no agent runs here, so a task that got through would fail on
// the control socket instead.
const SendCase kCases[] = {
    {"OneByteTooLong", kLongest + "y", false, 1, "the task is longer than 1048576 bytes"},
    {"FarTooLong", std::string(3 * kMaxLine, ' ') + "{}", false, 1, "the task is longer than 1048576 bytes"},
    {"LongestWithItsLineEndGoesOn", kLongest + "\r\n", false, 1, "No agent answers"},
    {"WaitForAQuery", "{\"task\":\"query\",\"kind\":0}", true, ExitCode::kUsage,
     "--wait needs a task with task identifiers"},
    {"WaitForAPolicy", "{\"task\":\"policy\",\"configuration\":\"x\"}", true, ExitCode::kUsage,
     "it was not sent"},
    {"WaitForACommandGoesOn", "{\"task\":\"block-password\"}", true, 1, "No agent answers"},
};

class SendCommandTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendCommandTest, RefusesBeforeSending) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string file = root.Path() + "/task.json";
    std::ofstream(file) << GetParam().task;
    chmod(file.c_str(), 0600);
    CAgentOptions options;
    options.task = "@" + file;
    options.control = root.Path() + "/agent.sock";
    options.wait = GetParam().wait;
    std::ostringstream out, errors;
    EXPECT_EQ(GetParam().code, CAgentCommands::Send(options, out, errors)) << errors.str();
    EXPECT_NE(std::string::npos, errors.str().find(GetParam().error)) << errors.str();
}

INSTANTIATE_TEST_SUITE_P(Tasks, SendCommandTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SendCase>& info) { return info.param.name; });

}  // namespace
