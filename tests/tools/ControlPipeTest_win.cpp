// The Windows control channel, server and client in one process under Wine: answers, its
// refusals, a pipe name that is taken, and a stop that no client holds up.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/ILoggerResource.h"
#include "tools/agent/control/CControlClient.h"
#include "tools/agent/control/CControlServer.h"

namespace {

using Zun::Tools::Agent::CControlClient;
using Zun::Tools::Agent::CControlServer;

const std::chrono::milliseconds kTimeout(20000);

class CNullLog : public Zun::Common::Kernel::ILoggerResource {
public:
    void Write(const std::string&, int, const std::string&) override {}
};

// A pipe name of this process's own, so that runs side by side never meet.
std::string PipeName(const std::string& purpose) {
    return "\\\\.\\pipe\\quil-test-" + std::to_string(::GetCurrentProcessId()) + "-" + purpose;
}

std::string Failure(const std::function<void()>& call) {
    try {
        call();
        return std::string();
    } catch (const std::exception& e) {
        return e.what();
    }
}

// Answers each line with "seen:<line>" and counts the handler's calls.
struct CEchoServer {
    explicit CEchoServer(const std::string& name)
        : server(
              name,
              [this](const std::vector<std::string>& lines) {
                  ++calls;
                  std::vector<std::string> answers;
                  for (const std::string& line : lines) {
                      answers.push_back("seen:" + line);
                  }
                  return answers;
              },
              log) {}
    CNullLog log;
    std::atomic<int> calls{0};
    CControlServer server;
};

TEST(ControlPipeTest, AnswersEachClientsLine) {
    const std::string name = PipeName("answers");
    CEchoServer echo(name);
    echo.server.Start();
    for (const std::string& line :
         {std::string("{\"op\":\"status\"}"), std::string(1000, 'x'), std::string()}) {
        EXPECT_EQ("seen:" + line, CControlClient::Send(name, line, kTimeout));
    }
    EXPECT_EQ(3, echo.calls.load());
    echo.server.Stop();
    EXPECT_NE(std::string::npos, Failure([&] {
                                     CControlClient::Send(name, "{}", kTimeout);
                                 }).find("No agent answers on " + name))
        << "the pipe goes with the server";
}

TEST(ControlPipeTest, AnOverlongLineIsRefusedAndNeverHandled) {
    const std::string name = PipeName("overlong");
    CEchoServer echo(name);
    echo.server.Start();
    EXPECT_EQ("{\"ok\":false,\"error\":\"line longer than 1048576 bytes\"}",
              CControlClient::Send(name, std::string(CControlServer::kMaxLine + 1, 'x'), kTimeout));
    EXPECT_EQ(0, echo.calls.load());
    EXPECT_EQ("seen:next", CControlClient::Send(name, "next", kTimeout)) << "the server goes on";
}

TEST(ControlPipeTest, ASecondServerOfTheNameIsRefused) {
    const std::string name = PipeName("taken");
    CEchoServer first(name);
    first.server.Bind();
    CEchoServer second(name);
    EXPECT_EQ("Another agent serves the control pipe " + name, Failure([&] { second.server.Bind(); }));
    first.server.Start();
    EXPECT_EQ("seen:still", CControlClient::Send(name, "still", kTimeout));
}

TEST(ControlPipeTest, NamesThatAreNoLocalPipeAreRefused) {
    for (const std::string& name :
         {std::string("C:\\quil\\agent.sock"), std::string("\\\\.\\pipe\\"),
          std::string("\\\\server\\pipe\\quil-agent"), "\\\\.\\pipe\\" + std::string(300, 'n')}) {
        CEchoServer echo(name);
        EXPECT_EQ(0u,
                  Failure([&] { echo.server.Bind(); }).find("The control channel on Windows is a named pipe"))
            << name;
    }
}

// A client that connects and says nothing holds up neither other clients nor the stop.
TEST(ControlPipeTest, AQuietClientHoldsUpNothing) {
    const std::string name = PipeName("quiet");
    CEchoServer echo(name);
    echo.server.Start();
    const HANDLE quiet =
        ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, quiet);
    EXPECT_EQ("seen:other", CControlClient::Send(name, "other", kTimeout));
    echo.server.Stop();
    ::CloseHandle(quiet);
}

TEST(ControlPipeTest, TheClientNeedsOneLine) {
    EXPECT_EQ("A task must be one line",
              Failure([&] { CControlClient::Send(PipeName("none"), "a\nb", kTimeout); }));
}

}  // namespace
