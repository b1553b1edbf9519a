#include "bench/BenchCommon.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace QuilBench {

void CTimesReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred || run.iterations == 0) {
            continue;
        }
        // A repeated benchmark is represented by its median; its single repetitions are ignored.
        const bool repeated = run.repetitions > 1;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (median || (!repeated && run.run_type == Run::RT_Iteration)) {
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            m_nanoseconds[run.run_name.str()] = run.GetAdjustedRealTime() / unit * 1e9;
            m_cpuNanoseconds[run.run_name.str()] = run.GetAdjustedCPUTime() / unit * 1e9;
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

double CTimesReporter::Nanoseconds(const std::string& name) const {
    const auto found = m_nanoseconds.find(name);
    return found == m_nanoseconds.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
}

double CTimesReporter::CpuNanoseconds(const std::string& name) const {
    const auto found = m_cpuNanoseconds.find(name);
    return found == m_cpuNanoseconds.end() ? std::numeric_limits<double>::quiet_NaN() : found->second;
}

void RunBenchmarks(int& argc, char** argv, CTimesReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
}

std::string FormatNumber(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string FormatDuration(double nanoseconds) {
    if (std::isnan(nanoseconds)) {
        return "n/a";
    }
    static const struct {
        double scale;
        const char* unit;
    } kUnits[] = {{1e9, "s"}, {1e6, "ms"}, {1e3, "µs"}, {1, "ns"}};
    for (const auto& unit : kUnits) {
        if (nanoseconds >= unit.scale || unit.scale == 1) {
            const double value = nanoseconds / unit.scale;
            return FormatNumber(value, value >= 100 ? 0 : value >= 10 ? 1 : 2) + " " + unit.unit;
        }
    }
    return "n/a";
}

void WriteRow(const std::string& what, const std::string& figure, const std::string& against,
              const std::string& ratio, const std::string& target, const std::string& verdict) {
    const char* path = std::getenv("QUIL_BENCH_ROWS");
    FILE* out = path != nullptr ? std::fopen(path, "a") : stdout;
    if (out == nullptr) {
        out = stdout;
    }
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", what.c_str(), figure.c_str(), against.c_str(),
                 ratio.c_str(), target.c_str(), verdict.c_str());
    if (out != stdout) {
        std::fclose(out);
    }
}

const char* Verdict(bool meets) {
    return meets ? "meets" : "**misses**";
}

void WriteRatioRow(const std::string& what, double measured, double baseline, double limit) {
    const double ratio = measured / baseline;
    const bool known = !std::isnan(ratio);
    WriteRow(what, FormatDuration(measured), FormatDuration(baseline),
             known ? FormatNumber(ratio, 2) + "×" : "n/a", "≤ " + FormatNumber(limit, 1) + "×",
             known ? Verdict(ratio <= limit) : "not measured");
}

void ServeBarePeer(int socket) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = recv(socket, buffer.data(), buffer.size(), 0);
        if (got < static_cast<ssize_t>(sizeof(std::uint32_t))) {
            return;
        }
        std::uint32_t replyBytes = 0;
        std::memcpy(&replyBytes, buffer.data(), sizeof replyBytes);
        if (replyBytes > buffer.size() || send(socket, buffer.data(), replyBytes, MSG_NOSIGNAL) < 0) {
            return;
        }
    }
}

bool BareRoundTrip(int socket, std::vector<char>& buffer, std::size_t requestBytes, std::size_t replyBytes) {
    if (buffer.size() < std::max(requestBytes, replyBytes)) {
        buffer.resize(std::max(requestBytes, replyBytes));
    }
    const std::uint32_t ask = static_cast<std::uint32_t>(replyBytes);
    std::memcpy(buffer.data(), &ask, sizeof ask);
    return send(socket, buffer.data(), requestBytes, MSG_NOSIGNAL) == static_cast<ssize_t>(requestBytes) &&
           recv(socket, buffer.data(), buffer.size(), 0) == static_cast<ssize_t>(replyBytes);
}

pid_t StartBarePeer(int& socket) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        ServeBarePeer(pair[1]);
        _exit(0);
    }
    close(pair[1]);
    socket = pair[0];
    return child;
}

}  // namespace QuilBench
