#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CProductProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/tools/CAgentProcess.h"

namespace {

using Zun::Testing::CAgentProcess;
using Zun::Testing::CProductProcess;

const std::chrono::seconds kDeadline(30);

// A client of the control socket that writes and reads as the test tells it.
class CControlConnection {
public:
    explicit CControlConnection(const std::string& path)
        : m_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(0, connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) << path;
    }
    ~CControlConnection() { close(m_fd); }
    bool Send(const std::string& text) {
        return send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    }
    // The next answer, waiting for it at most `within`; empty when none came meanwhile.
    std::string ReadLine(std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (m_pending.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready = {m_fd, POLLIN, 0};
            char chunk[4096];
            ssize_t got = 0;
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
                (got = read(m_fd, chunk, sizeof chunk)) <= 0) {
                return "";
            }
            m_pending.append(chunk, static_cast<size_t>(got));
        }
        const std::string line = m_pending.substr(0, m_pending.find('\n'));
        m_pending.erase(0, line.size() + 1);
        return line;
    }

private:
    const int m_fd;
    std::string m_pending;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int64_t SequenceOf(const std::string& answer) {
    const size_t at = answer.find("\"sequence\":");
    return at == std::string::npos ? -1 : std::stoll(answer.substr(at + 11));
}

// The real binary with the real module, in an object root where no product is installed.
class AgentProcessTest : public ::testing::Test {
protected:
    AgentProcessTest()
        : folder(root.Path() + "/agent"), database(folder + "/agent.db"), control(folder + "/agent.sock") {}

    std::unique_ptr<CAgentProcess> StartAgent(const std::string& module = QUIL_CONNECTOR_PATH) {
        std::unique_ptr<CAgentProcess> agent(new CAgentProcess(
            QUIL_AGENT_PATH, {"run", "--db", database, "--module", module, "--control", control}));
        EXPECT_TRUE(agent->WaitForError("running", kDeadline)) << agent->Errors();
        return agent;
    }

    int Command(const std::vector<std::string>& arguments, std::string& output, std::string& errors) {
        return CAgentProcess::Run(QUIL_AGENT_PATH, arguments, output, errors, kDeadline);
    }

    // The product stand-in installed and serving in the test's object root.
    std::unique_ptr<CProductProcess> ServeProduct() {
        EXPECT_EQ(0, CProductProcess::Run(QUIL_PRODUCT_PATH, {"install"}).first);
        std::unique_ptr<CProductProcess> product(new CProductProcess(QUIL_PRODUCT_PATH, {}));
        EXPECT_TRUE(product->WaitUntilServing());
        return product;
    }

    void Control(const std::string& request) {
        const auto answer = CProductProcess::Run(QUIL_PRODUCT_PATH, {"ctl", request});
        ASSERT_EQ(0, answer.first) << request << ": " << answer.second;
    }

    // Asks `status --json` until the product is in the state given; false when the deadline passed
    // before an answer said so. An answer to a question asked before the deadline counts.
    bool WaitForProduct(const std::string& state, std::string& last) {
        return WaitForProduct(state, last, std::chrono::steady_clock::now() + kDeadline);
    }
    bool WaitForProduct(const std::string& state, std::string& last,
                        std::chrono::steady_clock::time_point deadline) {
        std::string errors;
        do {
            Command({"status", "--json", "--control", control}, last, errors);
            if (last.find("\"product\":\"" + state + "\"") != std::string::npos) {
                return true;
            }
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    Zun::Testing::CTemporaryObjectRoot root;
    std::string folder;
    std::string database;
    std::string control;
};

// The server link and gRPC cost an agent some 4 MiB of memory: one without a server must not map them.
TEST_F(AgentProcessTest, WithoutAServerTheLinkIsNeverLoaded) {
    auto agent = StartAgent();
    std::ifstream maps("/proc/" + std::to_string(agent->Pid()) + "/maps");
    ASSERT_TRUE(maps.good());
    std::string line;
    bool any = false;
    while (std::getline(maps, line)) {
        any = true;
        for (const char* library : {"libquil_agent_link", "libgrpc", "libabsl"}) {
            EXPECT_EQ(std::string::npos, line.find(library)) << line;
        }
    }
    EXPECT_TRUE(any);
    agent->Signal(SIGTERM);
    EXPECT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();
}

TEST_F(AgentProcessTest, TasksFromInputAndSendAreStoredWithTheirSender) {
    auto agent = StartAgent();
    agent->WriteInput("{\"task\":\"block-password\"}\nnot json\n");
    ASSERT_TRUE(agent->WaitForOutput("not valid JSON", kDeadline)) << agent->Output();
    EXPECT_NE(std::string::npos,
              agent->Output().find("\"ok\":true,\"task\":\"block-password\",\"type\":723"));

    std::string output, errors;
    EXPECT_EQ(0, Command({"send", "--control", control, "{\"task\":\"maintenance-off\"}"}, output, errors))
        << errors;
    EXPECT_NE(std::string::npos, output.find("\"describe\":\"DisableFDEMaintenanceMode\"")) << output;
    EXPECT_EQ(1, Command({"send", "--control", control, "{\"task\":\"reboot\"}"}, output, errors));
    EXPECT_NE(std::string::npos, output.find("unknown task 'reboot'")) << output;
    EXPECT_EQ(1, Command({"run", "--db", database, "--module", QUIL_CONNECTOR_PATH, "--control", control},
                         output, errors));
    EXPECT_NE(std::string::npos, errors.find(database + ": cannot open: in use by another agent (pid "))
        << errors;
    EXPECT_EQ(1, Command({"run", "--db", folder + "/other.db", "--module", QUIL_CONNECTOR_PATH, "--control",
                          control},
                         output, errors));
    EXPECT_NE(std::string::npos, errors.find("Another agent serves the control socket")) << errors;

    agent->CloseInput();  // the agent keeps serving its socket after its input ends
    EXPECT_EQ(0, Command({"send", "--control", control, "{\"task\":\"policy\",\"configuration\":\"<P/>\"}"},
                         output, errors))
        << errors;
    agent->Signal(SIGINT);
    ASSERT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();

    ASSERT_EQ(0, Command({"logs", "--db", database, "--json"}, output, errors)) << errors;
    EXPECT_NE(std::string::npos,
              output.find("\"type\":723,\"class\":\"CBlockFDELogin\",\"describe\":\"BlockFDELogin\","
                          "\"user_context\":\"stdin\""))
        << output;
    EXPECT_NE(std::string::npos, output.find("\"type\":741,")) << output;
    ASSERT_NE(std::string::npos, output.find("\"type\":10405"));
    EXPECT_EQ(output.find("\"type\":10405"), output.rfind("\"type\":10405")) << "the refused agent published";
    EXPECT_NE(std::string::npos, output.find("\"user_context\":\"control\",\"configuration\":\"<P/>\""))
        << output;
}

// Lines that arrive together are stored together and answered in their order, whatever each one is.
TEST_F(AgentProcessTest, LinesThatArriveTogetherAreAnsweredInTheirOrder) {
    auto agent = StartAgent();
    agent->WriteInput(
        "{\"task\":\"block-password\"}\n{\"op\":\"status\"}\nnot json\n\n"
        "{\"task\":\"wipe-password\"}\n{\"task\":\"reboot\"}\n{\"task\":\"maintenance-off\"}\n");
    ASSERT_TRUE(agent->WaitForOutput("DisableFDEMaintenanceMode", kDeadline)) << agent->Output();
    const std::vector<std::string> answers = Lines(agent->Output());
    ASSERT_EQ(6u, answers.size()) << agent->Output();
    const std::vector<std::string> expected = {
        "\"task\":\"block-password\"", "\"unfinished_tasks\"",  "not valid JSON",
        "\"task\":\"wipe-password\"",  "unknown task 'reboot'", "\"task\":\"maintenance-off\""};
    for (size_t i = 0; i < answers.size(); ++i) {
        EXPECT_NE(std::string::npos, answers[i].find(expected[i])) << "answer " << i << ": " << answers[i];
    }
    EXPECT_LT(SequenceOf(answers[0]), SequenceOf(answers[3]));
    EXPECT_LT(SequenceOf(answers[3]), SequenceOf(answers[5]));
}

// Control clients are served side by side: one in the middle of a line holds up nobody else, and is
// answered once its line is complete.
TEST_F(AgentProcessTest, ControlClientsAreServedSideBySide) {
    auto agent = StartAgent();
    CControlConnection slow(control);
    CControlConnection quick(control);
    ASSERT_TRUE(slow.Send("{\"op\":"));
    ASSERT_TRUE(quick.Send("{\"op\":\"status\"}\n{\"task\":\"maintenance-off\"}\n"));
    std::vector<std::string> answers;
    for (const auto deadline = std::chrono::steady_clock::now() + kDeadline;
         answers.size() < 2 && std::chrono::steady_clock::now() < deadline;) {
        ASSERT_TRUE(slow.Send(" "));  // never idle long enough to be dropped
        const std::string answer = quick.ReadLine(std::chrono::milliseconds(500));
        if (!answer.empty()) {
            answers.push_back(answer);
        }
    }
    ASSERT_EQ(2u, answers.size()) << "the quick client waited for the slow one";
    EXPECT_NE(std::string::npos, answers[0].find("\"unfinished_tasks\"")) << answers[0];
    EXPECT_NE(std::string::npos, answers[1].find("\"task\":\"maintenance-off\"")) << answers[1];
    ASSERT_TRUE(slow.Send("\"status\"}\n"));
    EXPECT_NE(std::string::npos, slow.ReadLine(kDeadline).find("\"unfinished_tasks\""));
}

struct Refusal {
    std::vector<std::string> arguments;
    int code;
    std::string error;
};

TEST_F(AgentProcessTest, BadCommandLinesAndMissingPeersAreRefusedClearly) {
    std::string output, errors;
    for (const Refusal& r : std::vector<Refusal>{
             {{"launch"}, 64, "unknown command 'launch'"},
             {{"logs", "--type", "ten"}, 64, "--type needs a message type number"},
             {{"logs", "--since", "the day before"}, 64, "--since needs a UTC time"},
             {{"send"}, 64, "send needs a task"},
             {{"run", "--db"}, 64, "--db needs a value"},
             {{"logs", "--db", database}, 1, "no such file"},
             {{"send", "--control", control, "{\"task\":\"wipe-password\"}"}, 1, "No agent answers"},
             {{"run", "--db", database, "--module", root.Path() + "/none.so", "--control", control},
              1,
              "Cannot load the module"},
         }) {
        EXPECT_EQ(r.code, Command(r.arguments, output, errors)) << r.arguments[0] << ": " << errors;
        EXPECT_NE(std::string::npos, errors.find(r.error)) << errors;
    }
}

struct StatusCase {
    std::vector<std::string> options;
    int code;
    std::vector<std::string> shown;
};

// `status` as a health check: its exit code says the product's state, by default with readable lines.
TEST_F(AgentProcessTest, StatusExitsWithTheProductsState) {
    std::string output, errors;
    EXPECT_EQ(4, Command({"status", "--control", control}, output, errors));
    EXPECT_NE(std::string::npos, errors.find("No agent answers")) << errors;
    auto agent = StartAgent();
    ASSERT_TRUE(agent->WaitForError("Connector was deactivated", kDeadline)) << agent->Errors();
    for (const StatusCase& c : std::vector<StatusCase>{
             {{},
              3,
              {"product:          not installed since 20", "looked in:        object root " + root.Path()}},
             {{"--json"}, 3, {"{\"ok\":true,\"product\":\"not installed\",\"since\":\"20"}},
         }) {
        std::vector<std::string> arguments = {"status", "--control", control};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(c.code, Command(arguments, output, errors)) << output << errors;
        for (const std::string& text : c.shown) {
            EXPECT_NE(std::string::npos, output.find(text)) << text << " in " << output;
        }
    }
}

struct NotInstalledCase {
    const char* task;
    int code;
    std::vector<std::string> shown;  // in the answer and, for a stored task, its result event
};

// With no product installed the module takes no task: one with identifiers is failed at once by its
// result event; one without could never be waited for and is refused before it is sent.
TEST_F(AgentProcessTest, TasksWithoutAProductGetTheirOutcomeAtOnce) {
    auto agent = StartAgent();
    ASSERT_TRUE(agent->WaitForError("Connector was deactivated", kDeadline)) << agent->Errors();
    for (const NotInstalledCase& c : std::vector<NotInstalledCase>{
             {"{\"task\":\"block-password\"}",
              1,
              {"\"ok\":true", "\"type\":10368", "\"value\":40", "the product is not installed"}},
             {"{\"task\":\"maintenance-off\"}",
              1,
              {"\"ok\":true", "\"value\":40", "no ProductVersion in the"}},
             {"{\"task\":\"query\",\"kind\":0}", 64, {"--wait needs a task with task identifiers"}},
         }) {
        std::string output, errors;
        EXPECT_EQ(c.code, Command({"send", "--wait", "--timeout", "20", "--db", database, "--control",
                                   control, c.task},
                                  output, errors))
            << c.task << ": " << output << errors;
        for (const std::string& text : c.shown) {
            EXPECT_NE(std::string::npos, (output + errors).find(text))
                << c.task << ": " << text << " in " << output;
        }
    }
    agent->Signal(SIGTERM);
    ASSERT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();
    // Nothing is left for the next run to settle.
    auto again = StartAgent();
    again->Signal(SIGTERM);
    ASSERT_EQ(0, again->WaitForExit(kDeadline));
    EXPECT_EQ(std::string::npos, again->Errors().find("again")) << again->Errors();
    EXPECT_EQ(std::string::npos, again->Errors().find("canceled because the agent stopped"))
        << again->Errors();
}

// A product that answers requests but not pings is not reachable, and `status` fails while it is;
// once it answers pings again, the watchdog's next cycle brings `status` back to 0, so within one
// period. A cycle whose ping went out just before the product came back still fails; the next
// one starts at most one period later, and its ping and the status it records take a little more,
// which the allowance covers on a slow (sanitized, loaded) build. The period is long enough here
// for the status command to be asked within it.
TEST_F(AgentProcessTest, StatusReturnsToConnectedWithinOneWatchdogPeriod) {
    const std::chrono::milliseconds period(2000);
    setenv("QUIL_TESTING_WATCHDOG_MS", std::to_string(period.count()).c_str(), 1);
    const auto product = ServeProduct();
    auto agent = StartAgent(QUIL_CONNECTOR_TESTING_PATH);
    unsetenv("QUIL_TESTING_WATCHDOG_MS");
    std::string status;
    ASSERT_TRUE(WaitForProduct("connected", status)) << status;
    std::string summary, errors;
    EXPECT_EQ(0, Command({"status", "--control", control}, summary, errors)) << summary << errors;
    EXPECT_NE(std::string::npos, summary.find("product:          connected since")) << summary;

    Control("{\"op\":\"pings\",\"answer\":false}");
    ASSERT_TRUE(WaitForProduct("not reachable", status)) << status;
    EXPECT_EQ(1, Command({"status", "--control", control}, summary, errors)) << summary << errors;
    EXPECT_NE(std::string::npos, summary.find("last failed ping: ")) << summary;

    const auto back = std::chrono::steady_clock::now();
    Control("{\"op\":\"pings\",\"answer\":true}");
    const std::chrono::milliseconds cycleWork(1000);
    EXPECT_TRUE(WaitForProduct("connected", status, back + period + cycleWork)) << status;
    EXPECT_EQ(0, Command({"status", "--control", control}, summary, errors)) << summary << errors;
}

}  // namespace
