#pragma once

// What every benchmark program of ours shares: the median time of each benchmark, the rows of the
// one results table, and the bare SEQPACKET ping-pong every round trip is held against.

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace QuilBench {

// Keeps the real time per iteration of every benchmark (the median when repeated), in nanoseconds.
class CTimesReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // NaN when the benchmark did not run or failed.
    double Nanoseconds(const std::string& name) const;
    // The CPU time of the benchmark's thread per iteration: on a machine shared with other work it
    // says what the code costs where the real time says how busy the neighbours were.
    double CpuNanoseconds(const std::string& name) const;

private:
    std::map<std::string, double> m_nanoseconds;
    std::map<std::string, double> m_cpuNanoseconds;
};

// Runs the benchmarks selected on the command line through the reporter.
void RunBenchmarks(int& argc, char** argv, CTimesReporter& reporter);

// "12.3 µs", "4.56 ms": three significant digits in the unit that fits.
std::string FormatDuration(double nanoseconds);
std::string FormatNumber(double value, int decimals);

// One row of the results table, appended to the file named by $QUIL_BENCH_ROWS (standard output
// when unset), so that several programs build one table. A row without a limit has no target.
void WriteRow(const std::string& what, const std::string& figure, const std::string& against,
              const std::string& ratio, const std::string& target, const std::string& verdict);
// measured / baseline against "at most limit×".
void WriteRatioRow(const std::string& what, double measured, double baseline, double limit);
const char* Verdict(bool meets);

// The bare peer: every packet it receives is answered with as many bytes as the packet's first
// 32-bit word asks for, so one peer serves round trips of any shape.
void ServeBarePeer(int socket);
// One bare round trip of requestBytes (at least 4) out and replyBytes back; false when the peer
// is gone.
bool BareRoundTrip(int socket, std::vector<char>& buffer, std::size_t requestBytes, std::size_t replyBytes);
// A forked child serving ServeBarePeer on the other end of `socket`; -1 on failure.
pid_t StartBarePeer(int& socket);

}  // namespace QuilBench
