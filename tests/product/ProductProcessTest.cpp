// The real quil-product binary in a temporary object root, driven by the module's own channel and
// by "quil-product ctl".
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "channel/CQUILChannel.h"
#include "core/CErrorReplyChannelException.h"
#include "host/CBlockFDELogin.h"
#include "messages/CGetStatusResponse.h"
#include "messages/CGetTaskStatusResponse.h"
#include "tests/product/ProductTestSupport.h"
#include "tests/support/CTemporaryObjectRoot.h"

extern char** environ;

using namespace ProductTest;
namespace Module = Zun::Connectors::Common;
using Zun::Connectors::QUILConnector::CQUILChannel;

namespace {

constexpr int kReadyMs = 10000;

// A child process with its standard output or error on a pipe.
struct Child {
    pid_t pid = -1;
    int output = -1;
};

Child Spawn(const std::vector<std::string>& arguments, int stream) {
    int fds[2];
    Child child;
    if (pipe(fds) != 0) {
        return child;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], stream);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 && pid > 0) {
        child.pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    child.output = fds[0];
    return child;
}

// Reads until the text contains what, the stream ends or the deadline passes.
std::string ReadUntil(int fd, const std::string& what, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string text;
    char buffer[4096];
    while (what.empty() || text.find(what) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        pollfd ready = {fd, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) != 1) {
            break;
        }
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

int Wait(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "quil-product ctl <line>": its exit status and what it printed.
std::pair<int, std::string> Control(const std::string& line) {
    const Child child = Spawn({QUIL_PRODUCT_BINARY, "ctl", line}, STDOUT_FILENO);
    const std::string answer = child.pid > 0 ? ReadUntil(child.output, "", kReadyMs) : "";
    close(child.output);
    return {Wait(child.pid), answer};
}

// quil-product serve, ready once it has said so on its standard error.
class CProductProcess {
public:
    explicit CProductProcess(std::vector<std::string> options) {
        options.insert(options.begin(), {QUIL_PRODUCT_BINARY, "serve"});
        m_child = Spawn(options, STDERR_FILENO);
        m_ready = m_child.pid > 0 &&
                  ReadUntil(m_child.output, "serving", kReadyMs).find("serving") != std::string::npos;
    }
    ~CProductProcess() {
        if (m_child.pid > 0) {
            kill(m_child.pid, SIGKILL);
            Wait(m_child.pid);
        }
        close(m_child.output);
    }
    bool IsReady() const { return m_ready; }
    // What it has written to its standard error since the last look, without waiting.
    std::string ReadAvailable() {
        std::string text;
        char buffer[4096];
        pollfd ready = {m_child.output, POLLIN, 0};
        while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
            const ssize_t got = read(m_child.output, buffer, sizeof(buffer));
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }
    // What the product logs from now on, up to the text or the deadline.
    std::string Log(const std::string& what) { return ReadUntil(m_child.output, what, kReadyMs); }
    pid_t Pid() const { return m_child.pid; }
    // Sends signal (0: none) and waits for the product to end; its exit status.
    int Exit(int signal) {
        if (m_child.pid <= 0) {
            return -1;
        }
        if (signal != 0) {
            kill(m_child.pid, signal);
        }
        const int status = Wait(m_child.pid);
        m_child.pid = -1;
        return status;
    }

private:
    Child m_child;
    bool m_ready = false;
};

class Recorder : public Module::IBufferReceiver {
public:
    void Receive(const Bytes& payload) override { payloads.push_back(payload); }
    std::vector<Bytes> payloads;
};

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

std::string Failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

class ProductProcess : public testing::TestWithParam<bool> {
protected:
    std::string StateFile() {
        const std::string path = root.Path() + "/state.json";
        std::ofstream(path)
            << R"({"Status":[{"Status":2,"CategoryResId":"0x12000003","StatusResId":"0x12000120"}],
                                  "ServerValue":4242})";
        return path;
    }

    Zun::Testing::CTemporaryObjectRoot root;
};

TEST_P(ProductProcess, ModuleChannelTalksToTheProductAndFaultsComeThroughCtl) {
    const bool lpcOnly = GetParam();
    std::vector<std::string> options = {"--state", StateFile()};
    if (lpcOnly) {
        options.push_back("--lpc-only");
    }
    CProductProcess product(options);
    ASSERT_TRUE(product.IsReady());

    CQUILChannel channel;
    channel.Start();
    EXPECT_EQ(lpcOnly, channel.IsLegacy());
    auto recorder = boost::make_shared<Recorder>();
    channel.SetBufferReceiver(recorder);
    const Bytes getStatus = Factory().CreateGetStatusRequest()->Serialize();
    channel.SendRequest(getStatus);
    ASSERT_EQ(1u, recorder->payloads.size());
    const auto status =
        Parse<Module::CGetStatusResponse>(Factory().CreateGetStatusResponse(), recorder->payloads[0]);
    ASSERT_EQ(1u, status->GetProtectionStatusRecords().size());
    EXPECT_EQ(0x12000120, status->GetProtectionStatusRecords()[0].StatusResId);
    EXPECT_EQ(4242u, channel.GetBroadcast(10));

    EXPECT_EQ(0, Control(R"({"op":"fault","kind":"status","status":14})").first);
    try {
        channel.SendRequest(getStatus);
        ADD_FAILURE() << "the fault did not come through";
    } catch (const Module::CErrorReplyChannelException& e) {
        EXPECT_EQ(14u, e.GetStatus());
    }
    channel.SendRequest(getStatus);
    EXPECT_EQ(2u, recorder->payloads.size()) << "the fault was for one request only";

    const uint32_t before = channel.GetBroadcast(2);
    EXPECT_EQ(0, Control(R"({"op":"set-status","records":[]})").first);
    EXPECT_NE(before, channel.GetBroadcast(2));
    EXPECT_EQ(0, Control(R"({"op":"set-server-value","value":7})").first);
    EXPECT_EQ(7u, channel.GetBroadcast(10));

    const auto refused = Control(R"({"op":"format-disk"})");
    EXPECT_EQ(1, refused.first);
    EXPECT_NE(std::string::npos, refused.second.find("unknown op")) << refused.second;
    EXPECT_EQ(0, product.Exit(SIGTERM)) << "a clean stop";
}

// A reply padded beyond the module's buffer never reaches it; the task result it carried must still
// be there when the module asks again (ALPC: the channel grows its buffer and resends at once;
// LPC: the request fails and the next one asks again).
TEST_P(ProductProcess, OversizeReplyLosesNoTaskResult) {
    const bool lpcOnly = GetParam();
    std::vector<std::string> options = {"--state", StateFile()};
    if (lpcOnly) {
        options.push_back("--lpc-only");
    }
    CProductProcess product(options);
    ASSERT_TRUE(product.IsReady());
    CQUILChannel channel;
    channel.Start();
    auto recorder = boost::make_shared<Recorder>();
    channel.SetBufferReceiver(recorder);
    ASSERT_EQ(0, Control(R"({"op":"queue-task","userData":")" + UserData + R"(","result":1})").first);
    ASSERT_EQ(0, Control(R"({"op":"fault","kind":"oversize","bytes":100000})").first);

    const Bytes getTaskStatus = Factory().CreateGetTaskStatusRequest()->Serialize();
    const std::string failure = Failure([&] { channel.SendRequest(getTaskStatus); });
    EXPECT_EQ(lpcOnly, !failure.empty()) << failure;
    if (lpcOnly) {
        channel.SendRequest(getTaskStatus);
    }
    ASSERT_EQ(1u, recorder->payloads.size());
    const auto reply =
        Parse<Module::CGetTaskStatusResponse>(Factory().CreateGetTaskStatusResponse(), recorder->payloads[0]);
    ASSERT_EQ(1u, reply->GetTaskLogRecords().size());
    EXPECT_EQ(First, reply->GetTaskLogRecords()[0].FirstId.uuid());

    channel.SendRequest(getTaskStatus);
    const auto after = Parse<Module::CGetTaskStatusResponse>(Factory().CreateGetTaskStatusResponse(),
                                                             recorder->payloads.back());
    EXPECT_TRUE(after->GetTaskLogRecords().empty()) << "delivered once";
}

// Task results queued faster than the area is written still reach it, each counted, without a
// control line to flush them; and each request's log lines are out, whole, before its reply.
TEST_P(ProductProcess, QuickTaskResultsAllReachTheAreaAndTheLog) {
    const bool lpcOnly = GetParam();
    std::vector<std::string> options = {"--state", StateFile()};
    if (lpcOnly) {
        options.push_back("--lpc-only");
    }
    CProductProcess product(options);
    ASSERT_TRUE(product.IsReady());
    CQUILChannel channel;
    channel.Start();
    channel.SetBufferReceiver(boost::make_shared<Recorder>());
    constexpr unsigned kTaskResults = 8;
    constexpr uint32_t kRequests = 40;
    const uint32_t before = channel.GetBroadcast(kTaskResults);
    const Bytes block = Factory()
                            .CreateBlockFDEPasswordRequest(
                                Task<Zun::Common::Message::Connectors::QUILConnector::CBlockFDELogin>())
                            ->Serialize();
    std::string log;
    for (uint32_t i = 0; i < kRequests; ++i) {
        channel.SendRequest(block);
        log += product.ReadAvailable();
        EXPECT_EQ(i + 1, Occurrences(log, "task result queued for " + First + "\n"))
            << "request " << i << " was answered before its lines were out:\n"
            << log;
        EXPECT_EQ(i + 1, Occurrences(log, "function BLOCK_FDE_ENCRYPTION_PASSWORD: status 0, ")) << log;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyMs);
    while (channel.GetBroadcast(kTaskResults) != before + kRequests &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(before + kRequests, channel.GetBroadcast(kTaskResults));
}

INSTANTIATE_TEST_SUITE_P(Ports, ProductProcess, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "LpcOnly" : "Alpc";
                         });

// A product that hangs in a request stops at once when told to, without doing what it was asked;
// the op stop says that it was asked, not that a signal came.
TEST_F(ProductProcess, StopsWhileHungWithoutRunningTheHungRequest) {
    for (const bool bySignal : {true, false}) {
        CProductProcess product({});
        ASSERT_TRUE(product.IsReady());
        ASSERT_EQ(0, Control(R"({"op":"fault","kind":"hang","ms":600000})").first);
        CQUILChannel channel;
        channel.Start();
        channel.SetBufferReceiver(boost::make_shared<Recorder>());
        std::thread request([&channel] {
            Failure([&channel] { channel.SendRequest(Factory().CreateGetStatusRequest()->Serialize()); });
        });
        EXPECT_NE(std::string::npos, product.Log("injecting fault hang").find("injecting fault hang"));
        if (bySignal) {
            kill(product.Pid(), SIGTERM);
        } else {
            EXPECT_EQ(0, Control(R"({"op":"stop"})").first);
        }
        const std::string log = product.Log("dropped unanswered");
        EXPECT_NE(std::string::npos, log.find("dropped unanswered")) << log;
        EXPECT_NE(std::string::npos,
                  log.find(bySignal ? "stopping on signal 15" : "asked to by the control op stop"))
            << log;
        EXPECT_EQ(0, product.Exit(0));
        request.join();
    }
}

TEST_F(ProductProcess, HeldAndAbandonedBroadcastMutex) {
    CProductProcess product({});
    ASSERT_TRUE(product.IsReady());
    CQUILChannel channel;
    channel.Start();
    EXPECT_EQ(1u, channel.GetBroadcast(10));

    // The user data is read under the mutex: a held mutex makes the read give up after its wait.
    EXPECT_EQ(0, Control(R"({"op":"hold-mutex"})").first);
    EXPECT_EQ(0, Control(R"({"op":"set-server-value","value":8})").first) << "the holder still writes";
    EXPECT_EQ("CPixlinkChannel: Get QSERVER_BROADCAST failed", Failure([&] { channel.GetBroadcast(10); }));
    EXPECT_EQ(0, Control(R"({"op":"release-mutex"})").first);
    // The failed read already took the new timestamp, so only a further change is read again.
    EXPECT_EQ(0, Control(R"({"op":"set-server-value","value":10})").first);
    EXPECT_EQ(10u, channel.GetBroadcast(10));

    // A product that dies holding the mutex leaves it abandoned; the next reader takes it.
    EXPECT_EQ(0, Control(R"({"op":"set-server-value","value":9})").first);
    EXPECT_EQ(0, Control(R"({"op":"die-holding-mutex"})").first);
    EXPECT_EQ(70, product.Exit(0));
    EXPECT_EQ(9u, channel.GetBroadcast(10));
}

}  // namespace
