// quil-server, quil-agent and quil-product as real processes linked over mutual TLS, with the
// short-wait module: rows across a server crash and an agent kill -9, the escrow loop, a task for a
// computer that connects later.
#include <gtest/gtest.h>

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "tools/demo/CPublishedLog.h"
#include "tools/demo/CSession.h"

namespace {

using namespace Zun::Tools::Demo;
using std::chrono::milliseconds;
using std::chrono::seconds;

const seconds kDeadline(30);
const milliseconds kPoll(100);
const char kComputer[] = "desk-7";
const char kState[] = R"({
  "Status": [{"Status": 0, "CategoryResId": "0x12000001", "StatusResId": "0x120000FD", "DescriptionResId": "0x1"}],
  "RecoveryPasswords": [{"Uid": "rp-7", "DeviceId": "disk-0", "Index": "0", "Value": "fleet-e2e-771026-305518"}],
  "RecoveryData": [],
  "RecoveryReannounceSeconds": 0
})";

// A port nobody listens on now, so that a restarted server comes back where its agents look.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

Poco::JSON::Object::Ptr ParseObject(const std::string& json) {
    try {
        Poco::JSON::Parser parser;
        return parser.parse(json).extract<Poco::JSON::Object::Ptr>();
    } catch (const Poco::Exception&) {
        return nullptr;
    }
}

// The server, its CA and one enrolled computer in a folder of the test's; the server runs until
// Kill or the fixture's end.
class FleetProcess : public testing::Test {
protected:
    FleetProcess() : computer(CSession::Options{QUIL_BIN_DIR, QUIL_TESTING_MODULE, false}) {
        folder = computer.Folder() + "/server";
        mkdir(folder.c_str(), 0700);
        config = folder + "/server.conf";
        std::ofstream(config) << "state-folder = " << folder << "\n"
                              << "listen = 127.0.0.1:" << FreePort() << "\n"
                              << "log-level = DEBUG\n";
        Server({"ca", "init"});
        bundle = computer.Folder() + "/desk-7.bundle";
        Server({"enrol", kComputer, "--out", bundle});
    }

    std::string Server(const std::vector<std::string>& arguments, int expected = 0) {
        std::string output;
        const int code = RunServer(arguments, output);
        EXPECT_EQ(expected, code) << output;
        return output;
    }

    int RunServer(const std::vector<std::string>& arguments, std::string& output) {
        std::vector<std::string> argv = {std::string(QUIL_BIN_DIR) + "/quil-server"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.insert(argv.end(), {"--config", config});
        return CChildProcess::Run(argv, output, After(kDeadline));
    }

    void StartServer() {
        server.reset(
            new CChildProcess({std::string(QUIL_BIN_DIR) + "/quil-server", "run", "--config", config}));
        const std::string opening = "listening for agents on ";
        CChildProcess* s = server.get();
        ASSERT_TRUE(CChildProcess::WaitUntil(
            {s}, [&] { return s->Errors().find(opening) != std::string::npos; }, After(kDeadline)))
            << s->Errors();
        const size_t at = s->Errors().find(opening) + opening.size();
        address = s->Errors().substr(at, s->Errors().find_first_of(" \n", at) - at);
    }

    // A crash, not a stop: nothing of the server's shutdown runs.
    void KillServer() {
        server->Signal(SIGKILL);
        server->WaitForExit(After(kDeadline));
        server.reset();
    }

    void StartAgent() { computer.StartAgent({"--server", address, "--server-bundle", bundle}); }

    // The server's view of the computer: `host --json` answers {"host": {...}}. Nothing until the
    // computer has connected once, which the server refuses with its exit code.
    Poco::JSON::Object::Ptr Host() {
        std::string output;
        if (RunServer({"host", kComputer, "--json"}, output) != 0) {
            return nullptr;
        }
        const Poco::JSON::Object::Ptr answer = ParseObject(output);
        return answer ? answer->getObject("host") : nullptr;
    }

    // Polls the server's view of the computer until condition holds for it.
    bool WaitForHost(const std::function<bool(const Poco::JSON::Object&)>& condition) {
        const Deadline deadline = After(kDeadline);
        while (std::chrono::steady_clock::now() < deadline) {
            const Poco::JSON::Object::Ptr host = Host();
            if (host && condition(*host)) {
                return true;
            }
            std::vector<CChildProcess*> children = {server.get()};
            if (computer.Agent() != nullptr) {
                children.push_back(computer.Agent());
            }
            CChildProcess::WaitUntil(
                children, [] { return false; }, After(kPoll));
        }
        return false;
    }

    int64_t LastAgentSequence() {
        int64_t last = 0;
        for (const CPublished& message : computer.Published().All()) {
            last = std::max<int64_t>(last, message.Sequence());
        }
        return last;
    }

    // Every row the agent has stored so far is on the server once: the server holds every sequence
    // up to at least the agent's newest, and as many rows as its highest sequence (no gap, no double).
    // The module keeps publishing meanwhile, so the server may hold more than was looked at.
    void ExpectAllRowsOnce() {
        const int64_t last = LastAgentSequence();
        ASSERT_GT(last, 0);
        EXPECT_TRUE(WaitForHost([&](const Poco::JSON::Object& host) {
            return host.optValue<Poco::Int64>("committed_through", 0) >= last;
        })) << Server({"host", kComputer, "--json"});
        const Poco::JSON::Object::Ptr host = Host();
        ASSERT_TRUE(host);
        EXPECT_EQ(host->optValue<Poco::Int64>("committed_through", 0),
                  host->optValue<Poco::Int64>("rows", -1));
    }

    CSession computer;
    std::string folder;
    std::string config;
    std::string bundle;
    std::string address;
    std::unique_ptr<CChildProcess> server;
};

TEST_F(FleetProcess, NoRowIsLostOrDoubledAcrossAServerCrashAndAnAgentKill) {
    computer.InstallProduct();
    computer.StartProduct(kState);
    StartServer();
    StartAgent();
    for (int i = 0; i < 10; ++i) {
        computer.Send(R"({"task":"query","kind":1})");
    }
    ExpectAllRowsOnce();

    KillServer();
    for (int i = 0; i < 10; ++i) {
        computer.Send(R"({"task":"query","kind":0})");
    }
    StartServer();
    computer.Agent()->Signal(SIGKILL);
    computer.Agent()->WaitForExit(After(kDeadline));
    StartAgent();
    for (int i = 0; i < 10; ++i) {
        computer.Send(R"({"task":"query","kind":1})");
    }
    ExpectAllRowsOnce();
}

TEST_F(FleetProcess, EscrowIsConfirmedByTheProductAndRevealedBehindAnAuditRow) {
    computer.InstallProduct();
    computer.StartProduct(kState);
    StartServer();
    StartAgent();
    ASSERT_TRUE(WaitForHost([](const Poco::JSON::Object& host) {
        const Poco::JSON::Array::Ptr escrow = host.getArray("escrow");
        return escrow && escrow->size() == 1 &&
               escrow->getObject(0)->optValue<std::string>("state", "") == "confirmed by the product";
    })) << Server({"host", kComputer});
    // Confirmed items have left the product: its next recovery reply lists nothing.
    EXPECT_NE(std::string::npos, computer.Control(R"({"op":"status"})").find("\"ok\":true"));

    const std::string revealed = Server({"reveal", kComputer, "--reason", "ticket 17"});
    EXPECT_NE(std::string::npos, revealed.find("fleet-e2e-771026-305518"));
    const std::string audit = Server({"audit"});
    EXPECT_NE(std::string::npos, audit.find("ticket 17"));
    EXPECT_EQ(std::string::npos, audit.find("fleet-e2e-771026-305518"));
    // Without a reason nothing is revealed.
    EXPECT_EQ(std::string::npos, Server({"reveal", kComputer}, 64).find("fleet-e2e"));
    // Nothing the server wrote holds the secret in the clear.
    std::string grep;
    EXPECT_EQ(
        1, CChildProcess::Run({"/bin/grep", "-r", "-l", "fleet-e2e-771026", folder}, grep, After(kDeadline)))
        << grep;
}

TEST_F(FleetProcess, ATaskWaitsForAComputerThatConnectsLater) {
    computer.InstallProduct();
    computer.StartProduct(kState);
    StartServer();
    Server({"task", kComputer, R"({"task":"block-password"})"});
    StartAgent();
    ASSERT_TRUE(WaitForHost([](const Poco::JSON::Object& host) {
        const Poco::JSON::Array::Ptr results = host.getArray("task_results");
        return results && results->size() > 0;
    })) << Server({"tasks"});
    EXPECT_NE(std::string::npos, Server({"tasks"}).find("block-password"));
}

}  // namespace
