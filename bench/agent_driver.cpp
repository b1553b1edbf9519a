// The whole chain as it runs on a computer: quil-product and quil-agent (with the module) as
// separate processes. Two measurements, one per command:
//   agent_driver BIN_DIR WORK_DIR throughput COUNT   block-password tasks through the agent, against
//                                                   the bare SEQPACKET round-trip rate
//   agent_driver BIN_DIR WORK_DIR idle SECONDS       CPU time and resident memory of a connected,
//                                                   idle agent
// Both write their rows of the results table (see BenchCommon.h).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchCommon.h"
#include "host/CBlockFDELogin.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "tools/product/CReplyBuilder.h"

namespace {

typedef std::chrono::steady_clock Clock;

// The ALPC wire around a payload: packet header, port message header, request or reply fields.
constexpr std::size_t kRequestOverhead = 24 + 40 + 16;
constexpr std::size_t kReplyOverhead = 24 + 40 + 8;
const char* const kBlockLine = "function BLOCK_FDE_ENCRYPTION_PASSWORD";
// How long the throughput run's reader of the product's log lets lines gather between reads.
constexpr std::chrono::milliseconds kReadPause(1);
// No recovery material and no re-announcement: once connected, nothing changes on its own.
const char* const kQuietState =
    "{\"RecoveryPasswords\":[],\"RecoveryData\":[],\"RecoveryReannounceSeconds\":0}";

struct Child {
    pid_t pid = -1;
    int input = -1;   // its standard input, when piped
    int output = -1;  // its standard error, when piped
};

// Starts argv[0] with standard input and/or standard error piped to us; the rest goes to /dev/null.
Child Spawn(const std::vector<std::string>& arguments, bool pipeInput, bool pipeError) {
    int in[2] = {-1, -1};
    int err[2] = {-1, -1};
    if ((pipeInput && pipe(in) != 0) || (pipeError && pipe(err) != 0)) {
        return {};
    }
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(pipeInput ? in[0] : null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(pipeError ? err[1] : null, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipeInput) {
        close(in[0]);
        child.input = in[1];
    }
    if (pipeError) {
        close(err[1]);
        child.output = err[0];
    }
    return child;
}

void Stop(Child& child) {
    if (child.pid <= 0) {
        return;
    }
    kill(child.pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(child.pid, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (waitpid(child.pid, nullptr, WNOHANG) == 0) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
    }
    child.pid = -1;
}

// Lines from a child's standard error, read with a deadline.
class CLineReader {
public:
    explicit CLineReader(int fd) : m_fd(fd) {}
    // False when nothing complete arrived within the wait or the writer is gone.
    bool HasLine() const { return m_pending.find('\n') != std::string::npos; }
    bool Next(std::string& line, std::chrono::milliseconds wait) {
        const Clock::time_point deadline = Clock::now() + wait;
        for (;;) {
            const std::size_t end = m_pending.find('\n');
            if (end != std::string::npos) {
                line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready = {m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char chunk[65536];
            const ssize_t got = read(m_fd, chunk, sizeof chunk);
            if (got <= 0) {
                return false;
            }
            m_pending.append(chunk, static_cast<std::size_t>(got));
        }
    }

private:
    int m_fd;
    std::string m_pending;
};

struct Setup {
    std::string bin;
    std::string work;
    Child product;
    Child agent;
};

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

// Installs and serves the product, starts the agent and waits until the module has connected and
// its first round of queries is over (the product log stays quiet for two seconds).
bool StartChain(Setup& setup, bool pipeAgentInput) {
    const std::string root = setup.work + "/objects";
    setenv("QUIL_OBJECT_ROOT", root.c_str(), 1);
    const std::string product = setup.bin + "/quil-product";
    const std::string state = setup.work + "/state.json";
    if (!WriteFile(state, kQuietState) || std::system((product + " install >/dev/null 2>&1").c_str()) != 0) {
        return false;
    }
    setup.product = Spawn({product, "serve", "--state", state}, false, true);
    setup.agent =
        Spawn({setup.bin + "/quil-agent", "run", "--db", setup.work + "/agent.db"}, pipeAgentInput, false);
    CLineReader log(setup.product.output);
    std::string line;
    bool connected = false;
    while (log.Next(line, std::chrono::milliseconds(connected ? 2000 : 30000))) {
        connected = connected || line.find("function ") != std::string::npos ||
                    line.find("command ") != std::string::npos;
    }
    return connected;
}

void StopChain(Setup& setup) {
    Stop(setup.agent);
    Stop(setup.product);
}

// Round trips per second of a bare ping-pong shaped like one block-password request and its reply.
double BareRate() {
    using namespace Zun;
    auto task = boost::make_shared<Common::Message::Connectors::QUILConnector::CBlockFDELogin>();
    task->SetTaskIdentifiers("11111111-2222-3333-4444-555555555555", "21111111-2222-3333-4444-555555555555",
                             "31111111-2222-3333-4444-555555555555");
    const std::size_t request = Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory()
                                    .CreateBlockFDEPasswordRequest(task)
                                    ->Serialize()
                                    .size();
    const std::size_t reply =
        12 + Tools::Product::CReplyBuilder::CommandDocument("BLOCK_FDE_ENCRYPTION_PASSWORD", 1).size();
    int socket = -1;
    const pid_t peer = QuilBench::StartBarePeer(socket);
    std::vector<char> buffer;
    constexpr int kRoundTrips = 50000;
    const Clock::time_point start = Clock::now();
    int done = 0;
    while (done < kRoundTrips &&
           QuilBench::BareRoundTrip(socket, buffer, kRequestOverhead + request, kReplyOverhead + reply)) {
        ++done;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(socket);
    waitpid(peer, nullptr, 0);
    return done == kRoundTrips ? done / seconds : 0;
}

// Feeds the tasks from a thread; the agent answers on its standard output, which nobody reads.
void FeedTasks(int input, int count) {
    const std::string line = "{\"task\":\"block-password\"}\n";
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += line;
    }
    for (std::size_t written = 0; written < all.size();) {
        const ssize_t n = write(input, all.data() + written, all.size() - written);
        if (n <= 0) {
            return;
        }
        written += static_cast<std::size_t>(n);
    }
}

int Throughput(Setup& setup, int count) {
    const double bareBefore = BareRate();
    if (!StartChain(setup, true)) {
        std::fprintf(stderr, "agent_driver: the chain did not come up\n");
        return 1;
    }
    CLineReader log(setup.product.output);
    const Clock::time_point start = Clock::now();
    std::thread feeder(FeedTasks, setup.agent.input, count);
    int seen = 0;
    std::string line;
    while (seen < count && log.Next(line, std::chrono::seconds(60))) {
        seen += line.find(kBlockLine) != std::string::npos ? 1 : 0;
        if (!log.HasLine()) {
            // Woken for every line, this reader took a share of the two cores the chain runs on;
            // reading what gathered each millisecond instead moves the end by at most that.
            std::this_thread::sleep_for(kReadPause);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    feeder.join();
    StopChain(setup);
    const double bare = std::max(bareBefore, BareRate());
    const double rate = seen == count ? count / seconds : 0;
    QuilBench::WriteRow(
        "Throughput: " + std::to_string(count) + " block-password tasks, quil-agent to quil-product",
        QuilBench::FormatNumber(rate, 0) + " tasks/s",
        QuilBench::FormatNumber(bare, 0) + " bare round trips/s",
        QuilBench::FormatNumber(rate / bare, 3) + "×", "≥ 0.5×",
        seen == count ? QuilBench::Verdict(rate / bare >= 0.5)
                      : "**only " + std::to_string(seen) + " arrived**");
    return 0;
}

// CPU time of every thread of a process, in nanoseconds, by thread id.
std::map<std::string, double> ThreadCpu(pid_t pid) {
    std::map<std::string, double> cpu;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    for (dirent* entry = dir ? readdir(dir) : nullptr; entry != nullptr; entry = readdir(dir)) {
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        double nanoseconds = 0;
        if (entry->d_name[0] != '.' && in >> nanoseconds) {
            cpu[entry->d_name] = nanoseconds;
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return cpu;
}

// What the threads used between the two samples; threads born in between count whole.
double CpuBetween(const std::map<std::string, double>& before, const std::map<std::string, double>& after) {
    double used = 0;
    for (const auto& thread : after) {
        const auto earlier = before.find(thread.first);
        used += thread.second - (earlier == before.end() ? 0 : earlier->second);
    }
    return used;
}

// A field of the process's status in KiB, e.g. "VmRSS" (all resident pages) or "RssAnon" (those not
// backed by a file: the process's own memory, not the shared libraries' pages).
double StatusKib(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtod(line.c_str() + field.size() + 1, nullptr);
        }
    }
    return 0;
}

int Idle(Setup& setup, int seconds) {
    if (!StartChain(setup, false)) {
        std::fprintf(stderr, "agent_driver: the chain did not come up\n");
        return 1;
    }
    const auto before = ThreadCpu(setup.agent.pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuBetween(before, ThreadCpu(setup.agent.pid));
    const double resident = StatusKib(setup.agent.pid, "VmRSS") / 1024;
    const double anonymous = StatusKib(setup.agent.pid, "RssAnon") / 1024;
    StopChain(setup);
    const std::string span = std::to_string(seconds) + " s";
    QuilBench::WriteRow("Idle " + span + ", connected: CPU time of quil-agent",
                        QuilBench::FormatDuration(cpu), "—", "—", "≤ 20 ms", QuilBench::Verdict(cpu <= 20e6));
    QuilBench::WriteRow("Idle " + span + ", connected: resident memory of quil-agent",
                        QuilBench::FormatNumber(resident, 1) + " MiB",
                        "of which " + QuilBench::FormatNumber(anonymous, 1) + " MiB its own (RssAnon)", "—",
                        "≤ 15 MiB", QuilBench::Verdict(resident <= 15));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: agent_driver BIN_DIR WORK_DIR throughput COUNT | idle SECONDS\n");
        return 64;
    }
    signal(SIGPIPE, SIG_IGN);
    Setup setup;
    setup.bin = argv[1];
    setup.work = argv[2];
    const std::string mode = argv[3];
    const int amount = std::atoi(argv[4]);
    if (mode == "throughput") {
        return Throughput(setup, amount);
    }
    return mode == "idle" ? Idle(setup, amount) : 64;
}
