// quil-agent's ways in for tasks against another local user: an impostor's control socket, task
// files of others, and more tasks than the module can take.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/CForeignUser.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/demo/CSession.h"

namespace {

using namespace Zun::Tools::Demo;
using Zun::Testing::CForeignUser;

const std::chrono::seconds kDeadline(20);
const int kImpostorWaitMs = 10000;
// The agent's defaults: how long a control client may leave an answer untaken, and how long the
// module has to stop.
const int kIdleMs = 5000;
const int kGraceMs = 5000;

// Another user listens on a control socket in a folder everybody may write to (as /tmp is) and
// reports through a pipe how many bytes anyone sent it.
class CImpostor {
public:
    explicit CImpostor(const std::string& path) {
        int ready[2], result[2];
        if (pipe(ready) != 0 || pipe(result) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(result[0]);
            _exit(Listen(path, ready[1], result[1]));
        }
        close(ready[1]);
        close(result[1]);
        char signal = 0;
        m_listening = read(ready[0], &signal, 1) == 1;
        close(ready[0]);
        m_result = result[0];
    }
    ~CImpostor() {
        if (m_result >= 0) {
            close(m_result);
        }
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Listening() const { return m_listening; }
    // The bytes the impostor received from its one connection; -1 when nobody connected.
    long Received() {
        long count = -1;
        if (read(m_result, &count, sizeof count) != sizeof count) {
            return -1;
        }
        return count;
    }

private:
    static int Listen(const std::string& path, int ready, int result) {
        if (!CForeignUser::Become(CForeignUser::kNobody)) {
            return 1;
        }
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 1) != 0) {
            return 1;
        }
        chmod(path.c_str(), 0777);
        (void)!write(ready, "r", 1);
        long count = -1;
        pollfd waiting = {listener, POLLIN, 0};
        if (poll(&waiting, 1, kImpostorWaitMs) == 1) {
            const int client = accept(listener, nullptr, nullptr);
            count = 0;
            char buffer[4096];
            pollfd incoming = {client, POLLIN, 0};
            ssize_t got;
            while (poll(&incoming, 1, 1000) == 1 && (got = read(client, buffer, sizeof buffer)) > 0) {
                count += got;
            }
        }
        (void)!write(result, &count, sizeof count);
        return 0;
    }

    pid_t m_pid = -1;
    int m_result = -1;
    bool m_listening = false;
};

// Sends the bytes on the control socket, ends our side and returns everything the agent answers
// until it closes the connection.
std::string Exchange(const std::string& path, const std::string& bytes) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<size_t>(n);
        }
        shutdown(fd, SHUT_WR);
        char buffer[4096];
        pollfd incoming = {fd, POLLIN, 0};
        ssize_t got;
        while (poll(&incoming, 1, kImpostorWaitMs) == 1 && (got = read(fd, buffer, sizeof buffer)) > 0) {
            answer.append(buffer, static_cast<size_t>(got));
        }
    }
    close(fd);
    return answer;
}

class AgentControlTest : public testing::Test {
protected:
    AgentControlTest() : session(CSession::Options{QUIL_BIN_DIR, QUIL_TESTING_MODULE, false}) {}

    int Agent(const std::vector<std::string>& arguments, std::string& output, const std::string& input = "") {
        std::vector<std::string> argv = {session.Binary("quil-agent")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return CChildProcess::Run(argv, output, After(kDeadline), input);
    }

    CSession session;
};

TEST_F(AgentControlTest, SendHandsNoTaskToASocketOfAnotherUser) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root";
    }
    Zun::Testing::CTemporaryObjectRoot scratch;
    ASSERT_EQ(0, chmod(scratch.Path().c_str(), 0711));  // others may pass, as they pass /
    const std::string shared = scratch.Path() + "/tmp";
    ASSERT_EQ(0, mkdir(shared.c_str(), 01777));
    ASSERT_EQ(0, chmod(shared.c_str(), 01777));
    CImpostor impostor(shared + "/agent.sock");
    ASSERT_TRUE(impostor.Listening());
    std::string output;
    EXPECT_EQ(1, Agent({"send", "--control", shared + "/agent.sock", R"({"task":"wipe-password"})"}, output));
    EXPECT_NE(std::string::npos, output.find("served by uid 65534")) << output;
    EXPECT_EQ(0, impostor.Received()) << "the impostor got bytes of the task";
}

TEST_F(AgentControlTest, TasksComeFromStandardInputOrAFileOfOurs) {
    // The socket is born owner-only whatever umask the agent inherits.
    const mode_t previous = umask(0);
    session.StartAgent();
    umask(previous);
    const std::string control = session.Folder() + "/agent/agent.sock";
    struct stat socketFile {};
    ASSERT_EQ(0, lstat(control.c_str(), &socketFile));
    EXPECT_TRUE(S_ISSOCK(socketFile.st_mode));
    EXPECT_EQ(0700u, socketFile.st_mode & 07777);
    std::string output;
    EXPECT_EQ(0, Agent({"send", "--control", control, "-"}, output, "{\"task\":\"maintenance-off\"}\n"))
        << output;
    EXPECT_NE(std::string::npos, output.find("\"ok\":true")) << output;

    const std::string file = session.Folder() + "/task.json";
    std::ofstream(file) << R"({"task":"block-password"})"
                        << "\n";
    chmod(file.c_str(), 0600);
    EXPECT_EQ(0, Agent({"send", "--control", control, "@" + file}, output)) << output;
    chmod(file.c_str(), 0666);
    EXPECT_EQ(1, Agent({"send", "--control", control, "@" + file}, output)) << output;
    EXPECT_NE(std::string::npos, output.find(file + ": writable by group or others")) << output;
    EXPECT_EQ(0, session.StopAgent());
}

// A line up to the limit reaches the task parser; one byte more is refused as too long, unparsed.
TEST_F(AgentControlTest, ALineBeyondTheLimitIsRefusedUnparsed) {
    session.StartAgent();
    const std::string control = session.Folder() + "/agent/agent.sock";
    const size_t kMaxLine = 1 << 20;
    struct Case {
        size_t length;
        const char* answer;
    };
    // With its line end, the line arrives whole in the read that takes the input past the limit.
    for (const std::string& end : {std::string(), std::string("\n")}) {
        for (const Case& c :
             {Case{kMaxLine, "not valid JSON"}, Case{kMaxLine + 1, "line longer than 1048576 bytes"},
              Case{kMaxLine + 36, "line longer than 1048576 bytes"}}) {
            const std::string answer = Exchange(control, std::string(c.length, 'x') + end);
            EXPECT_NE(std::string::npos, answer.find(c.answer))
                << c.length << (end.empty() ? "" : " with its line end") << ": " << answer.substr(0, 200);
        }
    }
    EXPECT_EQ(0, session.StopAgent());
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A licence reaches the agent only off the command line, and rests nowhere in clear: not in the
// database, not in its write-ahead log, not in the log.
TEST_F(AgentControlTest, ALicenceNeverRestsInClearNorRidesOnTheCommandLine) {
    const std::string licence = "UVVJTC1MSUNFTkNFLTMxNDE1OTI2NTM1ODk3OTMyMzg0NjI2NDMz";  // Base64
    const std::string decoded = "QUIL-LICENCE-31415926535897932384626433";
    const std::string task = R"({"task":"activate","license_file_base64":")" + licence + R"("})";
    session.StartAgent();
    const std::string control = session.Folder() + "/agent/agent.sock";
    std::string output;
    EXPECT_EQ(1, Agent({"send", "--control", control, task}, output));
    EXPECT_NE(std::string::npos, output.find("which every local user could read on a command line"))
        << output;
    const std::string escaped = R"({"task":"activate","license_file_base64":")" + licence + R"("})";
    EXPECT_EQ(1, Agent({"send", "--control", control, escaped}, output))
        << "an escaped name is the same field";
    EXPECT_EQ(0, Agent({"send", "--control", control, "-"}, output, task + "\n")) << output;
    // While the agent runs, as after it stopped (its last checkpoint empties the write-ahead log).
    const std::string folder = session.Folder() + "/agent";
    for (int running = 1; running >= 0; --running) {
        if (!running) {
            EXPECT_EQ(0, session.StopAgent());
        }
        for (const char* name : {"agent.db", "agent.db-wal", "agent.db-shm", "agent.log"}) {
            const std::string bytes = Contents(folder + "/" + name);
            EXPECT_EQ(std::string::npos, bytes.find(licence))
                << name << (running ? " of the running agent" : "");
            EXPECT_EQ(std::string::npos, bytes.find(decoded)) << name;
        }
    }
}

// Anyone may write a 0777 folder: she could remove the agent's socket and serve her own at its name.
TEST_F(AgentControlTest, AControlSocketInAFolderOthersMayWriteIsRefused) {
    Zun::Testing::CTemporaryObjectRoot scratch;
    const std::string open = scratch.Path() + "/open";
    ASSERT_EQ(0, mkdir(open.c_str(), 0700));
    ASSERT_EQ(0, chmod(open.c_str(), 0777));
    std::string output;
    EXPECT_NE(0, Agent({"run", "--db", scratch.Path() + "/agent/agent.db", "--module", QUIL_TESTING_MODULE,
                        "--control", open + "/agent.sock"},
                       output, ""));
    EXPECT_NE(std::string::npos, output.find(open + ": writable by group or others")) << output;
    struct stat info {};
    EXPECT_NE(0, lstat((open + "/agent.sock").c_str(), &info)) << "a socket was left there";
}

// The module takes tasks faster than a hung product finishes them: past the limit the agent refuses
// new ones instead of growing without bound, and says why.
TEST_F(AgentControlTest, TasksBeyondTheQueueLimitAreRefused) {
    session.InstallProduct();
    session.StartProduct();
    session.StartAgent({"--max-queued", "2"});
    session.Control(R"({"op":"fault","kind":"hang","ms":600000})");
    session.Send(R"({"task":"block-password"})");
    session.Send(R"({"task":"block-password"})");
    EXPECT_THROW(session.Send(R"({"task":"block-password"})"), std::runtime_error);
    EXPECT_NE(std::string::npos, session.Agent()->Output().find("2 tasks are waiting for the module already"))
        << session.Agent()->Output();
}

// A connection of our own to the agent's control socket that writes status requests and never
// reads, until the agent takes no more of them: its answers fill the socket.
class CStuckClient {
public:
    explicit CStuckClient(const std::string& path) : m_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return;
        }
        fcntl(m_fd, F_SETFL, O_NONBLOCK);
        std::string chunk;
        for (int i = 0; i < 256; ++i) {
            chunk += "{\"op\":\"status\"}\n";
        }
        const auto until = std::chrono::steady_clock::now() + kDeadline;
        pollfd writable = {m_fd, POLLOUT, 0};
        // Full once the socket has not taken a byte for a second.
        while (std::chrono::steady_clock::now() < until && poll(&writable, 1, 1000) == 1) {
            if (send(m_fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN) {
                return;
            }
        }
        m_stuck = std::chrono::steady_clock::now() < until;
    }
    ~CStuckClient() { close(m_fd); }
    bool Stuck() const { return m_stuck; }
    // Whether the agent closes its end within the time, answers still unread.
    bool DroppedWithin(std::chrono::milliseconds time) const {
        pollfd closed = {m_fd, POLLRDHUP, 0};
        return poll(&closed, 1, static_cast<int>(time.count())) == 1 && (closed.revents & POLLRDHUP) != 0;
    }

private:
    int m_fd;
    bool m_stuck = false;
};

// The exit code of `status` when no agent answers on the socket.
const int kNoAgent = 4;

// A client that sends and never reads holds up only itself: another one is answered at once, the
// agent drops it once it has left its answers untaken for a while, and SIGTERM ends the agent
// within its grace period while such a client hangs on.
TEST_F(AgentControlTest, AClientThatNeverReadsHoldsUpOnlyItself) {
    using Clock = std::chrono::steady_clock;
    session.StartAgent();
    const std::string control = session.Folder() + "/agent/agent.sock";
    std::string output;
    {
        CStuckClient stuck(control);
        ASSERT_TRUE(stuck.Stuck());
        const auto asked = Clock::now();
        // Whatever the product's state (none runs here), the agent answered: 4 would be no answer.
        EXPECT_NE(kNoAgent, Agent({"status", "--json", "--control", control}, output)) << output;
        EXPECT_LT(Clock::now() - asked, std::chrono::seconds(3)) << "another client waited";
        EXPECT_NE(std::string::npos, output.find("\"ok\":true")) << output;
        EXPECT_TRUE(stuck.DroppedWithin(std::chrono::milliseconds(kIdleMs + 5000)));
    }
    CStuckClient stuck(control);
    ASSERT_TRUE(stuck.Stuck());
    const auto stopped = Clock::now();
    EXPECT_EQ(0, session.StopAgent());
    EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(kGraceMs));
}

}  // namespace
