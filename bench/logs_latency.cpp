// `quil-agent logs` on a big database: how soon its first line comes and how much memory it takes.
//   logs_latency BIN_DIR WORK_DIR [ROWS]
// Makes WORK_DIR/agent.db with ROWS messages (1,000,000 by default) through CAgentStore, kept for
// the next run when it already holds them, then runs `quil-agent logs` with several filters: the
// time from the start of the process to the first line on its standard output (a pipe), the time
// to its end, and its peak resident memory (ru_maxrss from wait4). Writes rows of the results
// table (see BenchCommon.h).

#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/Session.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "tools/agent/store/CAgentStore.h"

namespace {

using Zun::Tools::Agent::CAgentStore;
typedef std::chrono::steady_clock Clock;

const int64_t kDefaultRows = 1000000;
const int64_t kRowsPerTransaction = 10000;
const int kRepetitions = 3;
// A message every 30 s from 2026-01-01: a million rows reach into December 2026.
const char kTimes[] =
    "UPDATE messages SET time = strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || (sequence * 30) || ' "
    "seconds')";
const double kFirstLineTargetMs = 100;

// The mix an agent stores: mostly status logs, some task results, tasks and requests, with the
// content CMessageEncoder writes for them.
std::vector<CAgentStore::Record> Templates() {
    auto record = [](uint32_t type, const std::string& className, const std::string& description,
                     const std::string& content) {
        CAgentStore::Record r;
        r.type = type;
        r.className = className;
        r.description = description;
        r.content = content;
        return r;
    };
    const std::string uuid = "\"type\":\"uuid\",\"value\":\"6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f70\"";
    return {
        record(10044, "CStatusLog", "StatusLog_ProtectionStatus",
               "{\"rows\":[[{\"id\":241,\"name\":\"Severity\",\"type\":\"int\",\"value\":0},{\"id\":235,"
               "\"name\":"
               "\"InstanceUUID\"," +
                   uuid +
                   "},{\"id\":248,\"name\":\"StatusResId\",\"type\":\"res_id\",\"value\":"
                   "\"0xFFFFFFFFFFFFFFFF\"}]]}"),
        record(10292, "CStatusLog", "StatusLog_ConnectorStatus",
               "{\"rows\":[[{\"id\":2143,\"name\":\"Version\",\"type\":\"string\",\"value\":\"2.1.0\"}]]}"),
        record(10553, "CStatusLog", "StatusLog_EncryptionStorage",
               "{\"rows\":[[{\"id\":4672,\"name\":\"Level\",\"type\":\"int\",\"value\":2}]]}"),
        record(10405, "CMultiProductStatusLog", "StatusLog_ProductStatus",
               "{\"product\":[{\"id\":4429,\"name\":\"ProductId\",\"type\":\"res_id\",\"value\":"
               "\"0x071000000000081C\"}],"
               "\"rows\":[[{\"id\":3560,\"name\":\"Name\",\"type\":\"string\",\"value\":\"VELM "
               "FDE\"},{\"id\":3554,"
               "\"name\":\"State\",\"type\":\"int\",\"value\":1}]]}"),
        record(10368, "CEventLog", "EventLog_TaskStatus",
               "{\"rows\":[[{\"id\":2842,\"name\":\"FirstId\"," + uuid +
                   "},{\"id\":2848,\"name\":\"Code\",\"type\":"
                   "\"res_id\",\"value\":\"0x000000010000000B\"},{\"id\":2850,\"name\":\"State\",\"type\":"
                   "\"int\","
                   "\"value\":30}]]}"),
        record(10044, "CStatusLog", "StatusLog_ProtectionStatus",
               "{\"rows\":[[{\"id\":241,\"name\":\"Severity\",\"type\":\"int\",\"value\":6},{\"id\":248,"
               "\"name\":"
               "\"StatusResId\",\"type\":\"res_id\",\"value\":\"0x00000001000000B3\"}]]}"),
        record(723, "CBlockFDELogin", "BlockFDELogin",
               "{\"ids\":[\"6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f70\",\"6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f71\","
               "\"6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f72\"]}"),
        record(9, "CQUILRequest", "QUILRequest", "{\"kind\":0}"),
    };
}

int64_t Rows(const std::string& database) {
    if (!std::ifstream(database)) {
        return 0;
    }
    return static_cast<int64_t>(
        CAgentStore(database, CAgentStore::Mode::ReadOnly).Query(CAgentStore::Filter{}).size());
}

void MakeDatabase(const std::string& database, int64_t rows) {
    std::remove(database.c_str());
    const std::vector<CAgentStore::Record> templates = Templates();
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        for (int64_t done = 0; done < rows; done += kRowsPerTransaction) {
            store.InTransaction([&] {
                for (int64_t i = done; i < std::min(rows, done + kRowsPerTransaction); ++i) {
                    store.Append(templates[static_cast<size_t>(i) % templates.size()]);
                }
            });
        }
    }
    Poco::Data::SQLite::Connector::registerConnector();
    Poco::Data::Session session("SQLite", database);
    session << kTimes, Poco::Data::Keywords::now;
}

struct Run {
    double firstLineMs = 0;
    double totalMs = 0;
    long peakKiB = 0;
    size_t lines = 0;
};

Run RunLogs(const std::string& binary, const std::vector<std::string>& arguments) {
    int out[2];
    if (pipe(out) != 0) {
        return {};
    }
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Run run;
    char buffer[65536];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        const size_t before = run.lines;
        run.lines += static_cast<size_t>(std::count(buffer, buffer + got, '\n'));
        if (before == 0 && run.lines > 0) {
            run.firstLineMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    return run;
}

Run Median(const std::string& binary, const std::vector<std::string>& arguments) {
    std::vector<Run> runs;
    for (int i = 0; i < kRepetitions; ++i) {
        runs.push_back(RunLogs(binary, arguments));
    }
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return a.firstLineMs < b.firstLineMs; });
    return runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: logs_latency BIN_DIR WORK_DIR [ROWS]\n");
        return 64;
    }
    const std::string binary = std::string(argv[1]) + "/quil-agent";
    const std::string database = std::string(argv[2]) + "/agent.db";
    const int64_t rows = argc > 3 ? std::stoll(argv[3]) : kDefaultRows;
    if (Rows(database) != rows) {
        std::printf("making %lld rows in %s\n", static_cast<long long>(rows), database.c_str());
        MakeDatabase(database, rows);
    }
    struct Case {
        std::string what;
        std::vector<std::string> options;
    };
    const std::string count = QuilBench::FormatNumber(static_cast<double>(rows), 0);
    for (const Case& c :
         std::vector<Case>{{"all rows, table", {}},
                           {"all rows, --json", {"--json"}},
                           {"--type 10368 (1 row in 8)", {"--type", "10368"}},
                           {"--type 10553 --type 9 (2 in 8)", {"--type", "10553", "--type", "9"}},
                           {"--since 2026-12 (the last 4%)", {"--since", "2026-12"}},
                           {"--until 2026-01-02 (the first 0.6%)", {"--until", "2026-01-02"}},
                           {"-n 10", {"-n", "10"}},
                           {"-n 10 --type 10368", {"-n", "10", "--type", "10368"}}}) {
        std::vector<std::string> arguments = {"logs", "--db", database};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const Run run = Median(binary, arguments);
        const std::string what = "logs on " + count + " rows, " + c.what;
        QuilBench::WriteRow(
            what + ": first line", QuilBench::FormatDuration(run.firstLineMs * 1e6),
            std::to_string(run.lines) + " lines in " + QuilBench::FormatDuration(run.totalMs * 1e6), "—",
            "≤ 100 ms", QuilBench::Verdict(run.firstLineMs <= kFirstLineTargetMs));
        QuilBench::WriteRow(what + ": peak resident memory",
                            QuilBench::FormatNumber(static_cast<double>(run.peakKiB) / 1024, 1) + " MiB", "—",
                            "—", "none (figure)", "—");
    }
    return 0;
}
