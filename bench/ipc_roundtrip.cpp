// Round trips between two processes: a get-status request with a 1 KiB reply through the product
// channel, over the ALPC port and over the legacy LPC port, to the product stand-in's request
// handling, each against a bare SEQPACKET ping-pong of the same bytes between the same two
// processes. Pings through the bare port clients are measured alongside for reference.

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/BenchCommon.h"
#include "channel/CQUILChannel.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "platform/CTrustedPath.h"
#include "tools/product/CFaultPlan.h"
#include "tools/product/CProduct.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CProductServer.h"
#include "tools/product/CReplyBuilder.h"
#include "tools/product/CSilentBroadcastArea.h"

namespace {

using namespace Zun;
using Connectors::QUILConnector::CQUILChannel;
using Tools::Product::CProductState;

constexpr std::size_t kReplyDocumentBytes = 1024;
// What the substitute puts on the wire around a payload: its packet header, then the port message
// header and the ALPC request (16 bytes) or reply (8 bytes) fields.
constexpr std::size_t kPacketHeaderBytes = 24;
constexpr std::size_t kPortHeaderBytes = 40;
constexpr std::size_t kAlpcRequestFields = 16;
constexpr std::size_t kAlpcReplyFields = 8;
// The legacy port carries at most 648-byte messages: the request travels in one full message, and
// a reply beyond 600 bytes is announced in a short reply and read back in a data transfer.
constexpr std::size_t kLpcMessageBytes = 648;

struct Shape {
    std::size_t requestBytes;
    std::size_t replyBytes;
};

struct Fixture {
    CQUILChannel* alpc = nullptr;
    CQUILChannel* lpc = nullptr;
    std::vector<std::uint8_t> request;
    Shape alpcShape{};
    Shape lpcShape{};
    int bareSocket = -1;
};
Fixture g_fixture;

// The receiver only keeps the reply's size: parsing is measured on its own.
class CSizeReceiver : public Connectors::Common::IBufferReceiver {
public:
    void Receive(const std::vector<uint8_t>& payload) override { m_bytes = payload.size(); }
    std::size_t m_bytes = 0;
};

// Status records until the status document reaches 1 KiB.
CProductState StateWithKibiReply() {
    CProductState state = CProductState::Default();
    state.Status.clear();
    Tools::Product::StatusEntry entry;
    entry.CategoryResId = 0x12000001;
    entry.StatusResId = 0x120000FD;
    entry.DescriptionResId = 0x1;
    while (Tools::Product::CReplyBuilder::StatusDocument(state.Status).size() < kReplyDocumentBytes) {
        state.Status.push_back(entry);
    }
    return state;
}

// The product side: one product serving both ports under the first object root, one serving only
// the legacy port under the second, and the bare peer. Never returns.
[[noreturn]] void RunProductSide(const std::string& fullRoot, const std::string& legacyRoot, int bareSocket,
                                 int readyFd) {
    Tools::Product::CProductLog::SetEnabled(false);
    Tools::Product::CSilentBroadcastArea area;
    Tools::Product::CProduct full(StateWithKibiReply(), area);
    Tools::Product::CProduct legacy(StateWithKibiReply(), area);
    Tools::Product::CFaultPlan faults;
    Tools::Product::CProductServer fullServer(full, faults);
    Tools::Product::CProductServer legacyServer(legacy, faults);
    std::string error;
    setenv("QUIL_OBJECT_ROOT", fullRoot.c_str(), 1);
    bool ready = fullServer.Start(false, error);
    setenv("QUIL_OBJECT_ROOT", legacyRoot.c_str(), 1);
    ready = ready && legacyServer.Start(true, error);
    const char byte = ready ? 1 : 0;
    if (!ready || write(readyFd, &byte, 1) != 1) {
        std::fprintf(stderr, "product side: %s\n", error.c_str());
        _exit(1);
    }
    QuilBench::ServeBarePeer(bareSocket);
    _exit(0);
}

pid_t StartProductSide(const std::string& fullRoot, const std::string& legacyRoot) {
    int pair[2];
    int ready[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0 || pipe(ready) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pair[0]);
        RunProductSide(fullRoot, legacyRoot, pair[1], ready[1]);
    }
    close(pair[1]);
    g_fixture.bareSocket = pair[0];
    char byte = 0;
    return read(ready[0], &byte, 1) == 1 && byte == 1 ? child : -1;
}

void BM_ChannelRequest(benchmark::State& state, CQUILChannel* const* channel) {
    const auto receiver = boost::make_shared<CSizeReceiver>();
    (*channel)->SetBufferReceiver(receiver);
    for (auto _ : state) {
        (*channel)->SendRequest(g_fixture.request);
    }
    state.counters["reply_bytes"] = static_cast<double>(receiver->m_bytes);
}

void BM_BarePingPong(benchmark::State& state, const Shape* shape) {
    std::vector<char> buffer;
    for (auto _ : state) {
        if (!QuilBench::BareRoundTrip(g_fixture.bareSocket, buffer, shape->requestBytes, shape->replyBytes)) {
            state.SkipWithError("bare peer is gone");
            break;
        }
    }
}

void BM_ClientPing(benchmark::State& state, CQUILChannel* const* channel) {
    std::string error;
    for (auto _ : state) {
        if (!(*channel)->Ping(error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}

BENCHMARK_CAPTURE(BM_ChannelRequest, alpc, &g_fixture.alpc);
BENCHMARK_CAPTURE(BM_BarePingPong, alpc, &g_fixture.alpcShape);
BENCHMARK_CAPTURE(BM_ChannelRequest, lpc, &g_fixture.lpc);
BENCHMARK_CAPTURE(BM_BarePingPong, lpc, &g_fixture.lpcShape);
BENCHMARK_CAPTURE(BM_ClientPing, alpc, &g_fixture.alpc);
BENCHMARK_CAPTURE(BM_ClientPing, lpc, &g_fixture.lpc);

// The reply the product sends for the get-status request, header included.
std::size_t ReplyPayloadBytes() {
    return 12 + Tools::Product::CReplyBuilder::StatusDocument(StateWithKibiReply().Status).size();
}

void SetShapes() {
    const std::size_t reply = ReplyPayloadBytes();
    const std::size_t request = g_fixture.request.size();
    g_fixture.alpcShape = {kPacketHeaderBytes + kPortHeaderBytes + kAlpcRequestFields + request,
                           kPacketHeaderBytes + kPortHeaderBytes + kAlpcReplyFields + reply};
    // Both legs of the legacy exchange, each as long as its messages and data together.
    g_fixture.lpcShape = {2 * kPacketHeaderBytes + kLpcMessageBytes,
                          2 * kPacketHeaderBytes + kLpcMessageBytes + reply};
}

void WriteRows(const QuilBench::CTimesReporter& times) {
    const std::string label = std::to_string(ReplyPayloadBytes() - 12) + " B reply";
    QuilBench::WriteRatioRow("Round trip, ALPC: SendRequest get-status (" + label + ") vs bare ping-pong",
                             times.Nanoseconds("BM_ChannelRequest/alpc"),
                             times.Nanoseconds("BM_BarePingPong/alpc"), 1.5);
    QuilBench::WriteRatioRow("Round trip, LPC: SendRequest get-status (" + label + ") vs bare ping-pong",
                             times.Nanoseconds("BM_ChannelRequest/lpc"),
                             times.Nanoseconds("BM_BarePingPong/lpc"), 1.5);
}

bool ConnectChannels(const std::string& fullRoot, const std::string& legacyRoot, CQUILChannel& alpc,
                     CQUILChannel& lpc) {
    setenv("QUIL_OBJECT_ROOT", fullRoot.c_str(), 1);
    alpc.Start();
    setenv("QUIL_OBJECT_ROOT", legacyRoot.c_str(), 1);
    // No ALPC port there: the channel falls back to the legacy port, as with an old product.
    lpc.Start();
    return !alpc.IsLegacy() && lpc.IsLegacy();
}

int Run(int argc, char** argv, const std::string& fullRoot, const std::string& legacyRoot) {
    const pid_t product = StartProductSide(fullRoot, legacyRoot);
    if (product <= 0) {
        return 1;
    }
    int status = 1;
    {
        CQUILChannel alpc;
        CQUILChannel lpc;
        if (ConnectChannels(fullRoot, legacyRoot, alpc, lpc)) {
            g_fixture.alpc = &alpc;
            g_fixture.lpc = &lpc;
            g_fixture.request = Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory()
                                    .CreateGetStatusRequest()
                                    ->Serialize();
            SetShapes();
            QuilBench::CTimesReporter times;
            QuilBench::RunBenchmarks(argc, argv, times);
            WriteRows(times);
            status = 0;
        }
    }
    kill(product, SIGKILL);
    waitpid(product, nullptr, 0);
    return status;
}

}  // namespace

// The two object roots live under the work folder that bench/run creates and removes.
int main(int argc, char** argv) {
    const char* work = std::getenv("QUIL_BENCH_WORK");
    const std::string base = work != nullptr ? work : "/tmp/quil-bench-work";
    const std::string fullRoot = base + "/ipc-full";
    const std::string legacyRoot = base + "/ipc-legacy";
    try {
        Platform::CTrustedPath::EnsureFolder(fullRoot);
        Platform::CTrustedPath::EnsureFolder(legacyRoot);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "ipc_roundtrip: %s\n", e.what());
        return 1;
    }
    return Run(argc, argv, fullRoot, legacyRoot);
}
