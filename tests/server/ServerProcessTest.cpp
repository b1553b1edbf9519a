#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tools/ExitCodes.h"

extern char** environ;

namespace Zun {
namespace Server {
namespace {

using ::testing::HasSubstr;
namespace ExitCode = Tools::ExitCode;

struct Outcome {
    int code;
    std::string output;
};

// Runs quil-server to its end through the shell, standard error with standard output.
Outcome RunServer(const std::string& arguments) {
    const std::string command = std::string(QUIL_SERVER_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, got);
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class ServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quil-server-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_state = " --state " + m_folder + "/state";
    }
    void TearDown() override {
        if (m_server > 0) {
            kill(m_server, SIGKILL);
            waitpid(m_server, nullptr, 0);
        }
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    // Starts `run` and waits for its admin socket.
    void Start() {
        const std::string state = m_folder + "/state";
        std::vector<std::string> arguments = {QUIL_SERVER_PATH, "run",         "--state",     state,
                                              "--listen",       "127.0.0.1:0", "--log-level", "debug"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(&argument[0]);
        }
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_server, QUIL_SERVER_PATH, nullptr, nullptr, argv.data(), environ), 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        struct stat info;
        while (stat((state + "/admin.sock").c_str(), &info) != 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_EQ(stat((state + "/admin.sock").c_str(), &info), 0) << "the server did not start";
    }

    int Stop() {
        kill(m_server, SIGTERM);
        int status = 0;
        waitpid(m_server, &status, 0);
        m_server = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string m_folder;
    std::string m_state;
    pid_t m_server = -1;
};

TEST_F(ServerProcessTest, CommandLineAnswersWithSysexitsCodes) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"--version", ExitCode::kOk},
        {"--help", ExitCode::kOk},
        {"reveal --help", ExitCode::kOk},
        {"launch", ExitCode::kUsage},
        {"reveal pc-1", ExitCode::kUsage},
        {"hosts --config " + m_folder + "/missing.conf", ExitCode::kNoInput},
        {"hosts --admin-socket " + m_folder + "/none.sock", ExitCode::kUnavailable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunServer(c.first).code, c.second) << c.first;
    }
    EXPECT_THAT(RunServer("--version").output, HasSubstr("quil-server "));
    const Outcome printed = RunServer("--print-config --log-level warn" + m_state);
    EXPECT_THAT(printed.output, HasSubstr("option --log-level"));
    EXPECT_THAT(printed.output, HasSubstr(m_folder + "/state/server.db"));
}

TEST_F(ServerProcessTest, RunsWithItsCaServesAdministratorsAndStopsCleanly) {
    ASSERT_EQ(RunServer("ca init --name localhost" + m_state).code, ExitCode::kOk);
    const Outcome enrolled = RunServer("enrol pc-1 --out " + m_folder + "/pc-1.pem" + m_state);
    ASSERT_EQ(enrolled.code, ExitCode::kOk) << enrolled.output;
    Start();
    const Outcome hosts = RunServer("hosts" + m_state);
    EXPECT_EQ(hosts.code, ExitCode::kOk) << hosts.output;
    EXPECT_THAT(hosts.output, HasSubstr("computer"));
    const Outcome reveal = RunServer("reveal pc-1 --reason 'no such computer yet'" + m_state);
    EXPECT_EQ(reveal.code, ExitCode::kFailure);
    EXPECT_THAT(reveal.output, HasSubstr("no recovery password"));
    EXPECT_EQ(RunServer("task pc-9 '{\"task\":\"query\",\"kind\":1}'" + m_state).code, ExitCode::kFailure);
    EXPECT_EQ(RunServer("audit" + m_state).code, ExitCode::kOk);
    struct stat key;
    ASSERT_EQ(stat((m_folder + "/state/server.key").c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    EXPECT_EQ(Stop(), ExitCode::kOk);
}

}  // namespace
}  // namespace Server
}  // namespace Zun
