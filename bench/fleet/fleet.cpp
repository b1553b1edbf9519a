// A fleet of simulated agents against a real quil-server on loopback:
//   fleet BIN_DIR WORK_DIR sqlite|postgresql AGENTS COMPRESSION MINUTES [--storm]
// Every agent has its own certificate (issued through the CA class directly, which is quick) and its own
// rows; time runs COMPRESSION times faster than a computer's day (a heartbeat a minute becomes one every
// 60/COMPRESSION s). PostgreSQL is a cluster of the bench's own in a temporary folder. Phases: all agents
// connect and escrow, and what they sent meanwhile is acknowledged; MINUTES simulated minutes of steady
// traffic (the latencies of the rows sent in it and the server's CPU are taken there); a task to all; with
// --storm, the server is restarted under the connected agents; then the agents go quiet until every row is
// acknowledged, and the database is counted against what each agent sent. Rows go to the results table.

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <Poco/Data/RecordSet.h>
#include <Poco/Data/Statement.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "bench/BenchCommon.h"
#include "bench/fleet/CSimulatedAgent.h"
#include "server/admin/CCertificateAuthority.h"
#include "server/api/CLinkRuntime.h"
#include "server/store/CServerDatabase.h"
#include "tests/server/CPostgresCluster.h"

namespace {

using QuilBench::Clock;
using QuilBench::CSimulatedAgent;
using QuilBench::FormatNumber;

const std::chrono::milliseconds kTick(20);
const std::chrono::milliseconds kPoll(100);
// Connections opened per second while the fleet comes up, as a fleet's computers start over a
// morning rather than in one instant.
const double kRampPerSecond = 400;
const std::chrono::seconds kSettle(180);
const std::chrono::seconds kTaskDeadline(120);
const std::chrono::seconds kStormDeadline(300);

struct Server {
    pid_t pid = -1;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string PemBlock(const std::string& text, const std::string& marker, int n) {
    std::size_t at = 0;
    for (int i = 0; i <= n; ++i) {
        at = text.find("-----BEGIN " + marker, i == 0 ? 0 : at + 1);
    }
    const std::string end = "-----END " + marker + "-----";
    return text.substr(at, text.find(end, at) + end.size() - at) + "\n";
}

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

// Both processes hold a socket per agent.
void RaiseDescriptorLimit(int agents) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < static_cast<rlim_t>(agents) + 1000) {
        std::fprintf(stderr, "fleet: %d agents need about %d descriptors, the limit is %llu\n", agents,
                     agents + 1000, static_cast<unsigned long long>(limit.rlim_cur));
    }
}

// Runs argv with standard output and error appended to `log`; waits for it when asked.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& log, bool wait) {
    const pid_t pid = fork();
    if (pid == 0) {
        // A bench that dies leaves no server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (wait) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    return pid;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds deadline) {
    const Clock::time_point until = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

// The server's CPU seconds (user and system) and its resident memory, now and at its peak (MiB).
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            user = std::stoull(field);
        } else if (i == 15) {
            system = std::stoull(field);
        }
    }
    return static_cast<double>(user + system) / sysconf(_SC_CLK_TCK);
}

// A process and its direct children (PostgreSQL's postmaster and its backends), CPU seconds.
double TreeCpuSeconds(pid_t parent) {
    double total = CpuSeconds(parent);
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return total;
    }
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) {
            continue;
        }
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        char state = 0;
        long ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == parent) {
            total += CpuSeconds(pid);
        }
    }
    closedir(proc);
    return total;
}

// Busy and total CPU seconds of the whole machine since boot (all cores).
std::pair<double, double> MachineCpuSeconds() {
    std::ifstream in("/proc/stat");
    std::string cpu;
    in >> cpu;
    double busy = 0, all = 0;
    unsigned long long value = 0;
    for (int field = 0; field < 8 && in >> value; ++field) {
        all += value;
        if (field != 3 && field != 4) {  // idle and iowait
            busy += value;
        }
    }
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    return {busy / tick, all / tick};
}

double MemoryMiB(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stod(line.substr(key.size() + 1)) / 1024;
        }
    }
    return 0;
}

std::string Load() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one + "/" + five;
}

double Percentile(std::vector<double>& values, double p) {
    if (values.empty()) {
        return 0;
    }
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + at, values.end());
    return values[at];
}

std::string Secs(double seconds) {
    return seconds < 1 ? FormatNumber(seconds * 1000, 0) + " ms" : FormatNumber(seconds, 2) + " s";
}

class CFleetRun {
public:
    CFleetRun(const std::string& bin, const std::string& work, const std::string& engine, int agents,
              double compression, double minutes, bool storm)
        : m_bin(bin),
          m_work(work),
          m_engine(engine),
          m_count(agents),
          m_compression(compression),
          m_minutes(minutes),
          m_storm(storm) {}

    int Run() {
        RaiseDescriptorLimit(m_count);
        Prepare();
        StartServer();
        if (!WaitFor(
                [this] { return Slurp(m_state + "/server.log").find("Serving agents") != std::string::npos; },
                std::chrono::seconds(60))) {
            std::fprintf(stderr, "fleet: the server did not start, see %s\n", m_log.c_str());
            return 1;
        }
        StartAgents();
        const bool settled = Settle();
        Steady();
        TaskToAll();
        const double memoryPeak = MemoryMiB(m_server.pid, "VmHWM");
        const double memoryNow = MemoryMiB(m_server.pid, "VmRSS");
        double back = -1;
        if (m_storm) {
            back = Storm();
        }
        const bool quiet = Quiesce();
        StopAgents();
        StopServer();
        Count();
        Report(settled && quiet, memoryPeak, memoryNow, back);
        return 0;
    }

private:
    std::string Prefix() const {
        return "Fleet, " + FormatNumber(m_count, 0) + " agents on " + m_engine + " (time ×" +
               FormatNumber(m_compression, 0) + ")";
    }

    void Prepare() {
        m_state = m_work + "/state";
        mkdir(m_state.c_str(), 0700);
        mkdir((m_work + "/bundles").c_str(), 0700);
        Zun::Server::CCertificateAuthority authority(m_state + "/ca");
        authority.Init({});
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < m_count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "sim-%05d", i);
            const std::string bundle = m_work + "/bundles/" + name + ".bundle";
            authority.Enrol(name, bundle, 30);
            const std::string pem = Slurp(bundle);
            m_identities.push_back({name, PemBlock(pem, "PRIVATE KEY", 0), PemBlock(pem, "CERTIFICATE", 0),
                                    PemBlock(pem, "CERTIFICATE", 1)});
        }
        std::printf("enrolled %d agents in %.1f s\n", m_count, Since(start));
        if (m_engine == "postgresql") {
            m_cluster.reset(new Zun::Testing::CPostgresCluster);
            m_database = m_cluster->NewDatabase();
        } else {
            m_database = m_state + "/server.db";
        }
        m_port = FreePort();
        m_config = m_work + "/server.conf";
        m_log = m_work + "/server.out";
        // Retention off: the count at the end is held against every row sent.
        std::ofstream(m_config) << "state-folder = " << m_state << "\n"
                                << "database = " << m_database << "\n"
                                << "listen = 127.0.0.1:" << m_port << "\n"
                                << "retention-rows = 0\nretention-days = 0\n";
    }

    void StartServer() {
        m_server.pid = Spawn({m_bin + "/quil-server", "run", "--config", m_config}, m_log, false);
    }

    void StopServer() {
        kill(m_server.pid, SIGTERM);
        int status = 0;
        waitpid(m_server.pid, &status, 0);
    }

    void StartAgents() {
        const std::string address = "127.0.0.1:" + std::to_string(m_port);
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < m_count; ++i) {
            const auto offset = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(i / kRampPerSecond));
            m_agents.emplace_back(
                new CSimulatedAgent(m_identities[i], address, m_compression, start + offset));
        }
        m_driver = std::thread([this] {
            while (!m_stopping) {
                const Clock::time_point now = Clock::now();
                for (auto& agent : m_agents) {
                    agent->Tick(now);
                }
                std::this_thread::sleep_for(kTick);
            }
        });
    }

    void StopAgents() {
        for (auto& agent : m_agents) {
            agent->Stop();
        }
        m_stopping = true;
        m_driver.join();
        // The agents outlive their streams: gRPC calls into them until each stream is done.
        WaitFor(
            [this] {
                return std::all_of(m_agents.begin(), m_agents.end(), [](auto& a) { return a->IsIdle(); });
            },
            std::chrono::seconds(60));
    }

    int Connected() {
        return static_cast<int>(
            std::count_if(m_agents.begin(), m_agents.end(), [](auto& a) { return a->IsConnected(); }));
    }

    // All connected, and each escrow answered with its recovery response.
    bool Settle() {
        const Clock::time_point start = Clock::now();
        const bool settled = WaitFor(
            [this] {
                m_escrow.clear();
                for (auto& agent : m_agents) {
                    const double seconds = agent->TakeFigures().escrowSeconds;
                    if (seconds >= 0) {
                        m_escrow.push_back(seconds);
                    }
                }
                m_connected = Connected();
                return m_connected == m_count && static_cast<int>(m_escrow.size()) == m_count;
            },
            std::chrono::duration_cast<std::chrono::seconds>(
                kSettle + std::chrono::seconds(static_cast<int>(m_count / kRampPerSecond))));
        std::printf("connected %d of %d, %zu escrows answered, in %.1f s (load %s)\n", m_connected, m_count,
                    m_escrow.size(), Since(start), Load().c_str());
        return settled && DrainConnectPhase();
    }

    // The steady window starts once the rows made while the fleet came up are acknowledged: a
    // backlog still in the server when the window opens would be measured as the steady state's
    // latency.
    bool DrainConnectPhase() {
        const Clock::time_point start = Clock::now();
        std::vector<int64_t> made;
        for (auto& agent : m_agents) {
            made.push_back(agent->Last());
        }
        const bool drained = WaitFor(
            [&] {
                for (std::size_t i = 0; i < m_agents.size(); ++i) {
                    if (m_agents[i]->Acknowledged() < made[i]) {
                        return false;
                    }
                }
                return true;
            },
            kSettle);
        std::printf("rows of the connect phase %s in %.1f s more (load %s)\n",
                    drained ? "all acknowledged" : "NOT all acknowledged", Since(start), Load().c_str());
        return drained;
    }

    void Steady() {
        m_loadBefore = Load();
        const double cpu = CpuSeconds(m_server.pid);
        const double database = DatabaseCpuSeconds();
        const double simulator = CpuSeconds(getpid());
        const std::pair<double, double> machine = MachineCpuSeconds();
        const Clock::time_point start = Clock::now();
        for (auto& agent : m_agents) {
            agent->MeasureFrom(start);
        }
        const int64_t sentBefore = Sent();
        std::this_thread::sleep_for(std::chrono::duration<double>(m_minutes * 60 / m_compression));
        m_window = Since(start);
        m_cpu = CpuSeconds(m_server.pid) - cpu;
        m_databaseCpu = DatabaseCpuSeconds() - database;
        m_simulatorCpu = CpuSeconds(getpid()) - simulator;
        const std::pair<double, double> machineAfter = MachineCpuSeconds();
        m_machineBusy =
            (machineAfter.first - machine.first) / std::max(1e-9, machineAfter.second - machine.second);
        m_sentRate = (Sent() - sentBefore) / m_window;
        for (auto& agent : m_agents) {
            const CSimulatedAgent::Figures figures = agent->TakeFigures();
            m_commit.insert(m_commit.end(), figures.commitSeconds.begin(), figures.commitSeconds.end());
        }
        m_committedRate = m_commit.size() / m_window;
        for (auto& agent : m_agents) {
            const std::vector<double> waiting = agent->WaitingSeconds();
            m_commit.insert(m_commit.end(), waiting.begin(), waiting.end());
        }
        m_loadAfter = Load();
        std::printf(
            "steady %.0f s: %.0f rows/s committed, CPU: server %.1f s, database %.1f s, simulator %.1f s, "
            "machine %.0f %% busy (load %s)\n",
            m_window, m_committedRate, m_cpu, m_databaseCpu, m_simulatorCpu, m_machineBusy * 100,
            m_loadAfter.c_str());
    }

    // The PostgreSQL cluster's postmaster and backends; SQLite runs inside the server.
    double DatabaseCpuSeconds() const {
        if (!m_cluster) {
            return 0;
        }
        std::ifstream in(m_cluster->Folder() + "/data/postmaster.pid");
        long postmaster = 0;
        return in >> postmaster && postmaster > 0 ? TreeCpuSeconds(static_cast<pid_t>(postmaster)) : 0;
    }

    int64_t Sent() {
        int64_t last = 0;
        for (auto& agent : m_agents) {
            last += agent->Last();
        }
        return last;
    }

    void TaskToAll() {
        const Clock::time_point start = Clock::now();
        Spawn({m_bin + "/quil-server", "task", "--all", CSimulatedAgent::kMarkedTask, "--config", m_config},
              m_work + "/task.out", true);
        m_taskQueued = Since(start);
        WaitFor(
            [this, start] {
                int arrived = 0;
                Clock::time_point latest;
                for (auto& agent : m_agents) {
                    const Clock::time_point at = agent->TakeFigures().taskToAll;
                    arrived += at != Clock::time_point() ? 1 : 0;
                    latest = std::max(latest, at);
                }
                m_taskArrived = arrived;
                m_taskSeconds = std::chrono::duration<double>(latest - start).count();
                return arrived == m_count;
            },
            kTaskDeadline);
        std::printf("task to all: %d of %d in %.1f s (queued in %.1f s)\n", m_taskArrived, m_count,
                    m_taskSeconds, m_taskQueued);
    }

    // Restarts the server; the time until every agent is welcomed again.
    double Storm() {
        const Clock::time_point start = Clock::now();
        StopServer();
        StartServer();
        Clock::time_point latest;
        const bool back = WaitFor(
            [&] {
                int again = 0;
                for (auto& agent : m_agents) {
                    const CSimulatedAgent::Figures figures = agent->TakeFigures();
                    if (figures.welcomed > start && agent->IsConnected()) {
                        ++again;
                        latest = std::max(latest, figures.welcomed);
                    }
                }
                m_back = again;
                return again == m_count;
            },
            kStormDeadline);
        const double seconds = std::chrono::duration<double>(latest - start).count();
        std::printf("restart: %d of %d back in %.1f s%s\n", m_back, m_count, seconds,
                    back ? "" : " (deadline)");
        return seconds;
    }

    bool Quiesce() {
        for (auto& agent : m_agents) {
            agent->Quiet();
        }
        return WaitFor(
            [this] {
                for (auto& agent : m_agents) {
                    if (agent->Acknowledged() < agent->Last()) {
                        return false;
                    }
                }
                return true;
            },
            kSettle);
    }

    // Rows by computer and sequence against what each agent made: a row the server acknowledged and
    // does not hold is lost; one the agent still holds (never acknowledged) is undelivered.
    void Count() {
        std::map<std::string, int64_t> acked;
        for (auto& agent : m_agents) {
            acked[agent->Name()] = agent->Acknowledged();
            m_rowsSent += agent->Last();
            m_undelivered += agent->Last() - agent->Acknowledged();
        }
        Zun::Server::CServerDatabase database(m_database);
        database.Use([&](Poco::Data::Session& session) {
            Poco::Data::Statement select(session);
            select << "SELECT computer, COUNT(*) AS n, COUNT(DISTINCT sequence) AS d "
                      "FROM agent_rows GROUP BY computer";
            select.execute();
            Poco::Data::RecordSet set(select);
            for (bool more = set.moveFirst(); more; more = set.moveNext()) {
                const std::string computer = set["computer"].convert<std::string>();
                const int64_t rows = set["n"].convert<Poco::Int64>();
                const int64_t distinct = set["d"].convert<Poco::Int64>();
                m_rowsStored += rows;
                m_doubled += rows - distinct;
                m_lost += std::max<int64_t>(0, acked[computer] - distinct);
                acked.erase(computer);
            }
        });
        for (const auto& missing : acked) {
            m_lost += missing.second;
        }
        std::printf("rows made %lld, stored %lld: lost %lld, doubled %lld, undelivered %lld\n",
                    static_cast<long long>(m_rowsSent), static_cast<long long>(m_rowsStored),
                    static_cast<long long>(m_lost), static_cast<long long>(m_doubled),
                    static_cast<long long>(m_undelivered));
    }

    void Report(bool complete, double memoryPeak, double memoryNow, double back) {
        using QuilBench::Verdict;
        using QuilBench::WriteRow;
        const std::string what = Prefix() + ": ";
        const std::string all = FormatNumber(m_count, 0);
        WriteRow(
            what + "agents connected, rows committed",
            FormatNumber(m_connected, 0) + " of " + all + "; " + FormatNumber(m_committedRate, 0) + " rows/s",
            FormatNumber(m_sentRate, 0) + " rows/s sent; " + FormatNumber(m_rowsStored, 0) + " of " +
                FormatNumber(m_rowsSent, 0) + " rows stored",
            "lost " + FormatNumber(m_lost, 0) + ", undelivered " + FormatNumber(m_undelivered, 0),
            "all, every row",
            Verdict(m_connected == m_count && m_lost == 0 && m_undelivered == 0 && complete));
        const double p50 = Percentile(m_commit, 0.5);
        const double p99 = Percentile(m_commit, 0.99);
        WriteRow(what + "send to commit", "p50 " + Secs(p50) + " / p99 " + Secs(p99), "—", "—", "p99 ≤ 2 s",
                 Verdict(!m_commit.empty() && p99 <= 2));
        const double escrow = Percentile(m_escrow, 0.99);
        WriteRow(what + "escrow to recovery response (729)",
                 "p99 " + Secs(escrow) + " (" + FormatNumber(m_escrow.size(), 0) + " of " + all + ")",
                 "p50 " + Secs(Percentile(m_escrow, 0.5)), "—", "p99 ≤ 5 s",
                 Verdict(static_cast<int>(m_escrow.size()) == m_count && escrow <= 5));
        WriteRow(what + "a task to all reaches every agent",
                 Secs(m_taskSeconds) + " (" + FormatNumber(m_taskArrived, 0) + " of " + all + ")",
                 "queued in " + Secs(m_taskQueued), "—", "≤ 30 s",
                 Verdict(m_taskArrived == m_count && m_taskSeconds <= 30));
        const double simulatedMinutes = m_window / 60 * m_compression;
        WriteRow(what + "server CPU per 1,000 agents per simulated minute",
                 FormatNumber(m_cpu / (m_count / 1000.0) / simulatedMinutes, 2) + " s",
                 FormatNumber(m_cpu, 1) + " s over " + FormatNumber(m_window, 0) + " s (database " +
                     FormatNumber(m_databaseCpu, 1) + " s, simulator " + FormatNumber(m_simulatorCpu, 1) +
                     " s, machine " + FormatNumber(m_machineBusy * 100, 0) + " % busy); load " +
                     m_loadBefore + " → " + m_loadAfter,
                 "—", "none (figure)", "—");
        WriteRow(what + "server resident memory", FormatNumber(memoryPeak, 0) + " MiB peak",
                 FormatNumber(memoryNow, 0) + " MiB after the task to all", "—", "≤ 1 GiB",
                 Verdict(memoryPeak <= 1024));
        if (m_storm) {
            WriteRow(what + "server restarted under the fleet",
                     FormatNumber(m_back, 0) + " of " + all + " back in " + Secs(back),
                     "rows lost " + FormatNumber(m_lost, 0) + ", doubled " + FormatNumber(m_doubled, 0) +
                         ", undelivered " + FormatNumber(m_undelivered, 0),
                     "—", "all back, 0 lost, 0 doubled",
                     Verdict(m_back == m_count && m_lost == 0 && m_doubled == 0));
        }
    }

    std::string m_bin;
    std::string m_work;
    std::string m_engine;
    int m_count;
    double m_compression;
    double m_minutes;
    bool m_storm;

    std::string m_state;
    std::string m_database;
    std::string m_config;
    std::string m_log;
    int m_port = 0;
    std::unique_ptr<Zun::Testing::CPostgresCluster> m_cluster;
    Server m_server;
    std::vector<CSimulatedAgent::Identity> m_identities;
    std::vector<std::unique_ptr<CSimulatedAgent>> m_agents;
    std::thread m_driver;
    std::atomic<bool> m_stopping{false};

    int m_connected = 0;
    std::vector<double> m_escrow;
    std::vector<double> m_commit;
    double m_window = 0;
    double m_cpu = 0;
    double m_databaseCpu = 0;
    double m_simulatorCpu = 0;
    double m_machineBusy = 0;
    double m_sentRate = 0;
    double m_committedRate = 0;
    std::string m_loadBefore;
    std::string m_loadAfter;
    double m_taskQueued = 0;
    double m_taskSeconds = 0;
    int m_taskArrived = 0;
    int m_back = 0;
    int64_t m_rowsSent = 0;
    int64_t m_rowsStored = 0;
    int64_t m_lost = 0;
    int64_t m_doubled = 0;
    int64_t m_undelivered = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7 || argc > 8 || (std::string(argv[3]) != "sqlite" && std::string(argv[3]) != "postgresql") ||
        (argc == 8 && std::string(argv[7]) != "--storm")) {
        std::fprintf(
            stderr, "usage: fleet BIN_DIR WORK_DIR sqlite|postgresql AGENTS COMPRESSION MINUTES [--storm]\n");
        return 64;
    }
    Zun::Server::CLinkRuntime::Prepare();
    const int agents = std::atoi(argv[4]);
    const double compression = std::atof(argv[5]);
    const double minutes = std::atof(argv[6]);
    if (agents < 1 || compression < 1 || minutes <= 0) {
        std::fprintf(stderr, "fleet: AGENTS, COMPRESSION (at least 1) and MINUTES must be positive\n");
        return 64;
    }
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return CFleetRun(argv[1], argv[2], argv[3], agents, compression, minutes, argc == 8).Run();
}
