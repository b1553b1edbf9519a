// Round trips between two processes: a ping through each port client and, for comparison, a bare
// SEQPACKET ping-pong of the same bytes between the same two processes.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/CPixlinkPortServer.h"

namespace {

using namespace Zun;
using Connectors::Common::Pixlink::CPixlinkAlpcClient;
using Connectors::Common::Pixlink::CPixlinkClientNt;

constexpr std::uint32_t kLocalId = 0x61464445;
constexpr std::uint32_t kRemoteId = 0x31464445;
// A ping as it travels: the ALPC request message (header and 16 bytes) and the reply (header and 8).
constexpr std::size_t kPingRequestSize = 56;
constexpr std::size_t kPingReplySize = 48;

int g_bareSocket = -1;
CPixlinkAlpcClient* g_alpc = nullptr;
CPixlinkClientNt<Platform::ULONG64>* g_lpc = nullptr;

void ServePort(std::uint32_t kind, int readyFd) {
    Platform::CPixlinkPortServer server(kind, kLocalId, kRemoteId);
    const char byte = 1;
    if (write(readyFd, &byte, 1) != 1) {
        return;
    }
    Platform::CPortRequest request;
    for (;;) {
        if (server.Receive(request, -1)) {
            server.Reply(request, 0, {});
        }
    }
}

void ServeBare(int socket) {
    char buffer[kPingRequestSize];
    while (recv(socket, buffer, sizeof(buffer), 0) > 0) {
        send(socket, buffer, kPingReplySize, MSG_NOSIGNAL);
    }
}

pid_t StartProduct() {
    int pair[2];
    int ready[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0 || pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        std::thread(ServePort, Platform::kPortAlpc, ready[1]).detach();
        std::thread(ServePort, Platform::kPortLpc, ready[1]).detach();
        ServeBare(pair[1]);
        _exit(0);
    }
    close(pair[1]);
    g_bareSocket = pair[0];
    char bytes[2];
    for (std::size_t got = 0; got < 2;) {
        const ssize_t n = read(ready[0], bytes + got, 2 - got);
        if (n <= 0) {
            return -1;
        }
        got += static_cast<std::size_t>(n);
    }
    return child;
}

void BM_BarePing(benchmark::State& state) {
    char request[kPingRequestSize] = {};
    char reply[kPingRequestSize];
    for (auto _ : state) {
        send(g_bareSocket, request, sizeof(request), MSG_NOSIGNAL);
        benchmark::DoNotOptimize(recv(g_bareSocket, reply, sizeof(reply), 0));
    }
}

void BM_AlpcPing(benchmark::State& state) {
    for (auto _ : state) {
        if (g_alpc->Request(0, 0, nullptr, 0, nullptr, 0, nullptr, 0) != 0) {
            state.SkipWithError("ALPC ping failed");
            break;
        }
    }
}

void BM_LpcPing(benchmark::State& state) {
    for (auto _ : state) {
        if (g_lpc->Request(0, 0, nullptr, 0, nullptr, 0, nullptr, 0) != 0) {
            state.SkipWithError("LPC ping failed");
            break;
        }
    }
}

BENCHMARK(BM_BarePing);
BENCHMARK(BM_AlpcPing);
BENCHMARK(BM_LpcPing);

// Keeps each benchmark's time per round trip, for the ratios printed at the end.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.iterations > 0) {
                m_nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        const auto bare = m_nanoseconds.find("BM_BarePing");
        if (bare == m_nanoseconds.end()) {
            return;
        }
        for (const char* name : {"BM_AlpcPing", "BM_LpcPing"}) {
            const auto found = m_nanoseconds.find(name);
            if (found != m_nanoseconds.end()) {
                std::printf("%s / BM_BarePing = %.2f\n", name, found->second / bare->second);
            }
        }
    }

private:
    std::map<std::string, double> m_nanoseconds;
};

}  // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/quil-ipc-bench-XXXXXX";
    if (mkdtemp(root) == nullptr) {
        return 1;
    }
    setenv("QUIL_OBJECT_ROOT", root, 1);
    const pid_t product = StartProduct();
    int status = product > 0 ? 0 : 1;
    if (status == 0) {
        CPixlinkAlpcClient alpc;
        CPixlinkClientNt<Platform::ULONG64> lpc;
        alpc.Init(kLocalId, kRemoteId, 0);
        lpc.Init(kLocalId, kRemoteId, 0);
        g_alpc = &alpc;
        g_lpc = &lpc;
        benchmark::Initialize(&argc, argv);
        CRatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatios();
        alpc.Close();
        lpc.Close();
        kill(product, SIGKILL);
        waitpid(product, nullptr, 0);
    }
    const std::string cleanup = std::string("rm -rf ") + root;
    return std::system(cleanup.c_str()) == 0 ? status : 1;
}
