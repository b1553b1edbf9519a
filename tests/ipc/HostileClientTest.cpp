// What a local user can do to the product's ports and broadcast area, and what must still hold:
// the server keeps serving everyone else, and the module's reader of the area survives.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/CBroadcastWriter.h"
#include "platform/CObjectNamespace.h"
#include "platform/CPixlinkPortServer.h"
#include "platform/CPortSocket.h"
#include "platform/CSharedSection.h"
#include "platform/PixlinkProtocol.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/ipc/TestProduct.h"

// Every close() of this program passes here: a close of a descriptor that is no longer open is a
// descriptor closed twice, which under load closes another connection's socket.
namespace {
std::atomic<int> g_closesOfClosed{0};
}

extern "C" int close(int fd) {
    using CloseFn = int (*)(int);
    static const CloseFn next = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
    const int result = next(fd);
    if (result != 0 && errno == EBADF) {
        ++g_closesOfClosed;
    }
    return result;
}

namespace Zun {
namespace IpcTest {
namespace {

namespace Pixlink = Connectors::Common::Pixlink;
using Platform::CPortServer;
using Platform::CPortSocket;
using Platform::CUniqueFd;
using Platform::PortPacketHeader;
using Clock = std::chrono::steady_clock;

// Far below the stalls these tests guard against (10 s and more), far above a request's round trip.
constexpr auto kServedWithin = std::chrono::seconds(3);
constexpr std::int64_t kClientTimeout = -10000 * 10000LL;  // 10 s, in the client's 100 ns units
constexpr std::uint32_t kOneGiB = 1u << 30;
// An ALPC reply as large as travels inline: a few fill a socket that is never read.
constexpr std::uint32_t kLargeInlineReply = 65000;

std::string PortPath(std::uint32_t kind) {
    return Platform::CObjectNamespace::PathOf(
        Platform::CPixlinkPortServer::PortName(kind, kLocalId, kRemoteId));
}

std::vector<std::uint8_t> ConnectionData(std::uint32_t kind) {
    const std::vector<std::uint8_t> words =
        Words({Pixlink::kMagicLow, Pixlink::kMagicHigh, Pixlink::kProtocolVersion,
               static_cast<std::uint32_t>(Pixlink::kAlpcInlineReplyMax)});
    std::vector<std::uint8_t> data(kind == Platform::kPortAlpc ? Pixlink::kPortHeaderSize : 0, 0);
    data.insert(data.end(), words.begin(), words.end());
    return data;
}

// A port message of the product's protocol, built by hand: header, then words from offset 40.
std::vector<std::uint8_t> RawMessage(std::initializer_list<std::uint32_t> words) {
    return CPortServer::Message(Words(words));
}

// An LPC request whose first data entry (the request bytes in the client's memory) has entrySize.
std::vector<std::uint8_t> LpcRequestWithEntry(std::uint32_t entrySize) {
    const std::size_t entrySizeWord = (Pixlink::kLpcEntry0SizeOffset - Pixlink::kPortHeaderSize) / 4;
    std::vector<std::uint32_t> words((Pixlink::kLpcLargeDataOffset - Pixlink::kPortHeaderSize) / 4, 0);
    words[0] = kEcho;
    words[(Pixlink::kLpcDataInfoOffset - Pixlink::kPortHeaderSize) / 4] = 1;  // one entry
    words[entrySizeWord] = entrySize;
    std::vector<std::uint8_t> data(words.size() * 4);
    std::memcpy(data.data(), words.data(), data.size());
    std::vector<std::uint8_t> message = CPortServer::Message(data);
    const std::uint16_t infoOffset = Pixlink::kLpcDataInfoOffset;
    std::memcpy(&message[6], &infoOffset, sizeof(infoOffset));
    return message;
}

// A client that speaks the wire format by hand and does whatever a test tells it.
class CRawClient {
public:
    bool Connect(std::uint32_t kind) {
        if (CPortSocket::Connect(PortPath(kind), m_socket) != 0) {
            return false;
        }
        const std::vector<std::uint8_t> data = ConnectionData(kind);
        PortPacketHeader header = {Platform::kPacketConnect, 0, kind, 0, 0};
        if (!m_socket.Send(header, data.data(), data.size())) {
            return false;
        }
        return Next(header) && header.kind == Platform::kPacketConnectReply && header.value1 == 0;
    }
    bool Send(const std::vector<std::uint8_t>& message, int fd = -1, std::uint64_t viewSize = 0) {
        const PortPacketHeader header = {Platform::kPacketRequest, ++m_messageId, 0, 0, viewSize};
        return m_socket.Send(header, message.data(), message.size(), fd);
    }
    // The next packet from the server, within the deadline; false when there is none or it is gone.
    bool Next(PortPacketHeader& header, std::chrono::milliseconds within = std::chrono::milliseconds(5000)) {
        std::size_t length = 0;
        CUniqueFd fd;
        return m_socket.Receive(header, m_buffer.data(), m_buffer.size(), length, fd,
                                Platform::CDeadline::In(within)) == 0;
    }
    // Answers the server's reads of the request's first data entry until it asks no more; the
    // number of bytes given.
    std::size_t AnswerReads() {
        std::size_t given = 0;
        PortPacketHeader header;
        while (Next(header) && header.kind == Platform::kPacketReadData) {
            const std::vector<std::uint8_t> chunk(header.value2, 0x5A);
            const PortPacketHeader answer = {Platform::kPacketDataReply, header.messageId, 0, header.value2,
                                             header.offset};
            if (!m_socket.Send(answer, chunk.data(), chunk.size())) {
                break;
            }
            given += chunk.size();
        }
        return given;
    }
    // Whether the server hangs up within the deadline; what it sent before stays unread.
    bool IsDroppedWithin(std::chrono::milliseconds within) const {
        pollfd entry = {m_socket.Fd(), POLLRDHUP, 0};
        return poll(&entry, 1, static_cast<int>(within.count())) == 1 && (entry.revents & POLLHUP) != 0;
    }

private:
    CPortSocket m_socket;
    std::uint32_t m_messageId = 0;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(Platform::kPortMaxPayload);
};

// How long a well-behaved client of the product's protocol waits for its echo.
Clock::duration EchoTime(std::uint32_t kind) {
    std::unique_ptr<Pixlink::IPixlinkClient> client;
    if (kind == Platform::kPortAlpc) {
        client.reset(new Pixlink::CPixlinkAlpcClient);
    } else {
        client.reset(new Pixlink::CPixlinkClientNt<Platform::ULONG64>);
    }
    // The LPC client waits without a limit: a stalled server shows in the time taken.
    const std::int64_t timeout = kind == Platform::kPortAlpc ? kClientTimeout : 0;
    const auto start = Clock::now();
    const std::vector<std::uint8_t> request = Pattern(700);  // beyond inline: LPC reads it from us
    std::vector<std::uint8_t> reply(request.size());
    std::uint64_t length = 0;
    EXPECT_EQ(0u, client->Init(kLocalId, kRemoteId, 0));
    EXPECT_EQ(0u, client->Request(0, kEcho, request.data(), request.size(), reply.data(), reply.size(),
                                  &length, timeout));
    EXPECT_EQ(request, reply);
    client->Close();
    return Clock::now() - start;
}

CUniqueFd SealedSection(std::size_t size) {
    return CUniqueFd(Platform::CSharedSection::Create(size));
}

class HostileClientTest : public ::testing::Test {
protected:
    void Serve(std::uint32_t kind) {
        m_product.reset(new CServerProcess([kind] { CTestProduct(kind).Serve(); }));
        ASSERT_TRUE(m_product->IsReady());
    }
    bool ProductIsAlive() const { return waitpid(m_product->Pid(), nullptr, WNOHANG) == 0; }

    CTemporaryObjectRoot m_root;
    std::unique_ptr<CServerProcess> m_product;
};

// A request that claims more than a server takes is refused before anything is allocated for it:
// the client is dropped and everyone else is served as before.
struct ClaimCase {
    const char* name;
    std::uint32_t kind;
    std::size_t section;  // size of the section sent along, 0 for none
    std::uint64_t claim;  // what the packet says the view holds
    std::uint32_t entry;  // size of the LPC request's first data entry
};

class OversizedClaimTest : public HostileClientTest, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(OversizedClaimTest, ClientIsDroppedAndOthersAreServed) {
    const ClaimCase claim = GetParam();
    Serve(claim.kind);
    CRawClient hostile;
    ASSERT_TRUE(hostile.Connect(claim.kind));
    CUniqueFd section = claim.section > 0 ? SealedSection(claim.section) : CUniqueFd();
    const std::vector<std::uint8_t> message =
        claim.kind == Platform::kPortAlpc ? RawMessage({kEcho, 0, 16, 64}) : LpcRequestWithEntry(claim.entry);
    ASSERT_TRUE(hostile.Send(message, section.Get(), claim.claim));
    EXPECT_TRUE(hostile.IsDroppedWithin(std::chrono::milliseconds(5000)));
    EXPECT_LT(EchoTime(claim.kind), kServedWithin);
    EXPECT_TRUE(ProductIsAlive());
}

INSTANTIATE_TEST_SUITE_P(
    Claims, OversizedClaimTest,
    ::testing::Values(ClaimCase{"AlpcViewOfOneGiB", Platform::kPortAlpc, kOneGiB, kOneGiB, 0},
                      ClaimCase{"AlpcViewLargerThanItsSection", Platform::kPortAlpc, 4096, kOneGiB, 0},
                      ClaimCase{"LpcEntryOfOneGiB", Platform::kPortLpc, 0, 0, kOneGiB}),
    [](const ::testing::TestParamInfo<ClaimCase>& info) { return info.param.name; });

// Replies to a client that never reads pile up in its own outbox, never in the server's way.
class NonReadingClientTest : public HostileClientTest {};

TEST_F(NonReadingClientTest, OthersGetTheirRepliesAndTheClientIsDropped) {
    Serve(Platform::kPortAlpc);
    CRawClient hostile;
    ASSERT_TRUE(hostile.Connect(Platform::kPortAlpc));
    constexpr int kUnreadRequests = 16;  // a megabyte of replies: several times what a socket holds
    // The server may serve the first requests and drop the client before the last are sent (when
    // this thread is held up between sends): a send refused after the first is that drop.
    int sent = 0;
    while (sent < kUnreadRequests && hostile.Send(RawMessage({kSized, 0, 4, 0x10000, kLargeInlineReply}))) {
        ++sent;
    }
    ASSERT_GT(sent, 0);
    EXPECT_LT(EchoTime(Platform::kPortAlpc), kServedWithin);
    EXPECT_TRUE(hostile.IsDroppedWithin(std::chrono::milliseconds(5000)));
}

// A client that never answers the read of its request data holds up only itself, and not for long.
class UnansweredReadTest : public HostileClientTest {};

TEST_F(UnansweredReadTest, OthersAreServedMeanwhileAndTheClientIsDropped) {
    Serve(Platform::kPortLpc);
    CRawClient hostile;
    ASSERT_TRUE(hostile.Connect(Platform::kPortLpc));
    ASSERT_TRUE(hostile.Send(LpcRequestWithEntry(100)));
    PortPacketHeader read;
    ASSERT_TRUE(hostile.Next(read));
    EXPECT_EQ(Platform::kPacketReadData, read.kind);
    const auto start = Clock::now();
    EXPECT_LT(EchoTime(Platform::kPortLpc), kServedWithin);
    EXPECT_TRUE(hostile.IsDroppedWithin(CPortServer::kDataReadTimeout + std::chrono::milliseconds(3000)));
    EXPECT_GE(Clock::now() - start, CPortServer::kDataReadTimeout - std::chrono::milliseconds(500));
}

// Descriptors a client sends along that the server cannot use are closed once, and only once.
struct BadViewCase {
    const char* name;
    std::uint64_t claim;
    CUniqueFd (*make)();
};

CUniqueFd UnsealedSection() {
    CUniqueFd fd(memfd_create("unsealed", MFD_CLOEXEC));
    EXPECT_EQ(0, ftruncate(fd.Get(), 4096));
    return fd;
}

CUniqueFd PipeEnd() {
    int ends[2];
    EXPECT_EQ(0, pipe2(ends, O_CLOEXEC));
    CUniqueFd write(ends[1]);
    return CUniqueFd(ends[0]);
}

CUniqueFd SmallSection() {
    return SealedSection(4096);
}

// Holds more than a server takes, so that only the server's own limit refuses a claim of all of it.
CUniqueFd SectionBeyondTheLimit() {
    return SealedSection(Platform::kPortMaxRequestData + 4096);
}

class BadViewTest : public ::testing::TestWithParam<BadViewCase> {};

TEST_P(BadViewTest, DescriptorIsClosedOnceAndTheClientDropped) {
    CTemporaryObjectRoot root;
    CPortServer server(Platform::kPortAlpc,
                       Platform::CPixlinkPortServer::PortName(Platform::kPortAlpc, kLocalId, kRemoteId));
    ASSERT_TRUE(server.IsListening());
    CUniqueFd fd = GetParam().make();
    ASSERT_TRUE(fd.IsOpen());
    // The handshake and the request are handled by the server in this thread, between our steps.
    const PortPacketHeader connect = {Platform::kPacketConnect, 0, Platform::kPortAlpc, 0, 0};
    CPortSocket socket;
    ASSERT_EQ(0, CPortSocket::Connect(PortPath(Platform::kPortAlpc), socket));
    ASSERT_TRUE(socket.Send(connect, nullptr, 0));
    Platform::CPortRequest request;
    EXPECT_FALSE(server.Receive(request, 200));
    ASSERT_EQ(1u, server.AcceptedConnections());
    const int before = g_closesOfClosed.load();
    const std::vector<std::uint8_t> message = RawMessage({kEcho, 0, 16, 64});
    const PortPacketHeader header = {Platform::kPacketRequest, 1, 0, 0, GetParam().claim};
    ASSERT_TRUE(socket.Send(header, message.data(), message.size(), fd.Get()));
    EXPECT_FALSE(server.Receive(request, 200));
    EXPECT_EQ(0u, server.Connections());
    EXPECT_EQ(before, g_closesOfClosed.load());
}

INSTANTIATE_TEST_SUITE_P(Views, BadViewTest,
                         ::testing::Values(BadViewCase{"Unsealed", 16, &UnsealedSection},
                                           BadViewCase{"NotASection", 16, &PipeEnd},
                                           BadViewCase{"ClaimBeyondTheSection", 8192, &SmallSection},
                                           BadViewCase{"ClaimBeyondTheLimit", kOneGiB, &SmallSection},
                                           BadViewCase{"SectionBeyondTheLimit",
                                                       Platform::kPortMaxRequestData + 1,
                                                       &SectionBeyondTheLimit}),
                         [](const ::testing::TestParamInfo<BadViewCase>& info) { return info.param.name; });

// An LPC request's first data entry is read from the client only when the server takes entries of
// that size: above the limit the client is dropped before the server asks it for a single byte.
struct EntryCase {
    const char* name;
    std::uint32_t entry;
    bool read;  // whether the server asks for the entry
};

class LpcEntryLimitTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(LpcEntryLimitTest, EntryAboveTheLimitIsRefusedBeforeItIsRead) {
    const EntryCase c = GetParam();
    CTemporaryObjectRoot root;
    CPortServer server(Platform::kPortLpc,
                       Platform::CPixlinkPortServer::PortName(Platform::kPortLpc, kLocalId, kRemoteId));
    ASSERT_TRUE(server.IsListening());
    // The handshake and the request are handled by the server in this thread, between our steps.
    CPortSocket socket;
    ASSERT_EQ(0, CPortSocket::Connect(PortPath(Platform::kPortLpc), socket));
    const PortPacketHeader connect = {Platform::kPacketConnect, 0, Platform::kPortLpc, 0, 0};
    ASSERT_TRUE(socket.Send(connect, nullptr, 0));
    Platform::CPortRequest request;
    EXPECT_FALSE(server.Receive(request, 200));
    ASSERT_EQ(1u, server.Connections());
    const std::vector<std::uint8_t> message = LpcRequestWithEntry(c.entry);
    const PortPacketHeader header = {Platform::kPacketRequest, 1, 0, 0, 0};
    ASSERT_TRUE(socket.Send(header, message.data(), message.size()));
    EXPECT_FALSE(server.Receive(request, 200));
    EXPECT_EQ(c.read ? 1u : 0u, server.Connections());
    // What the server sent back: the connect reply, then a read of the entry's first chunk or nothing.
    std::vector<std::uint8_t> buffer(Platform::kPortMaxPayload);
    std::vector<std::uint32_t> kinds;
    PortPacketHeader got;
    std::size_t length = 0;
    CUniqueFd fd;
    while (socket.Receive(got, buffer.data(), buffer.size(), length, fd,
                          Platform::CDeadline::In(std::chrono::milliseconds(0))) == 0) {
        kinds.push_back(got.kind);
        if (got.kind == Platform::kPacketReadData) {
            EXPECT_EQ(Platform::kPortMaxPayload, got.value2) << "one chunk at a time, never the whole entry";
        }
    }
    const std::vector<std::uint32_t> expected =
        c.read ? std::vector<std::uint32_t>{Platform::kPacketConnectReply, Platform::kPacketReadData}
               : std::vector<std::uint32_t>{Platform::kPacketConnectReply};
    EXPECT_EQ(expected, kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LpcEntryLimitTest,
    ::testing::Values(
        EntryCase{"AtTheLimit", static_cast<std::uint32_t>(Platform::kPortMaxRequestData), true},
        EntryCase{"OneAboveTheLimit", static_cast<std::uint32_t>(Platform::kPortMaxRequestData) + 1, false},
        EntryCase{"OneGiB", kOneGiB, false}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

// Many clients that each announce an entry at the limit: the server reads as many as its bound on
// held request data allows, drops the rest before asking them for a byte, and takes a new one once
// a read ends.
TEST(HeldRequestDataTest, ClientsPastTheBoundAreDroppedUnreadAndTheShareComesBack) {
    CTemporaryObjectRoot root;
    CPortServer server(Platform::kPortLpc,
                       Platform::CPixlinkPortServer::PortName(Platform::kPortLpc, kLocalId, kRemoteId));
    ASSERT_TRUE(server.IsListening());
    const std::size_t fitting = CPortServer::kMaxHeldRequestData / Platform::kPortMaxRequestData;
    const std::vector<std::uint8_t> message =
        LpcRequestWithEntry(static_cast<std::uint32_t>(Platform::kPortMaxRequestData));
    Platform::CPortRequest request;
    std::vector<std::unique_ptr<CPortSocket>> clients;
    const auto announce = [&] {
        clients.emplace_back(new CPortSocket);
        CPortSocket& socket = *clients.back();
        const PortPacketHeader connect = {Platform::kPacketConnect, 0, Platform::kPortLpc, 0, 0};
        const PortPacketHeader header = {Platform::kPacketRequest, 1, 0, 0, 0};
        ASSERT_EQ(0, CPortSocket::Connect(PortPath(Platform::kPortLpc), socket));
        ASSERT_TRUE(socket.Send(connect, nullptr, 0));
        EXPECT_FALSE(server.Receive(request, 100));
        ASSERT_TRUE(socket.Send(header, message.data(), message.size()));
        EXPECT_FALSE(server.Receive(request, 100));
    };
    for (std::size_t i = 0; i < fitting + 2; ++i) {
        announce();
    }
    EXPECT_EQ(fitting, server.Connections()) << "the clients past the bound were dropped";
    EXPECT_EQ(CPortServer::kMaxHeldRequestData, server.HeldRequestData());

    clients.front().reset();  // one reader goes: its share comes back
    EXPECT_FALSE(server.Receive(request, 100));
    EXPECT_EQ(CPortServer::kMaxHeldRequestData - Platform::kPortMaxRequestData, server.HeldRequestData());
    announce();
    EXPECT_EQ(fitting, server.Connections());
    EXPECT_EQ(CPortServer::kMaxHeldRequestData, server.HeldRequestData());
}

// Memory that runs out in the middle of one client's request data (the product under an
// address-space limit) costs that client its connection; the product goes on serving the others.
TEST_F(HostileClientTest, AnAllocationFailureDropsTheClientNotTheServer) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Both keep their own allocator and shadow memory: under the limit the sanitizer's runtime
    // runs out first and ends the process, which is not what this test is about.
    GTEST_SKIP() << "a sanitizer's runtime allocates more than any limit leaves";
#endif
    m_product.reset(new CServerProcess([] {
        const std::size_t kHeadroom = 12 * 1024 * 1024;  // less than one entry at the limit
        std::ifstream statm("/proc/self/statm");
        std::size_t pages = 0;
        statm >> pages;
        const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + kHeadroom;
        const rlimit space{limit, limit};
        setrlimit(RLIMIT_AS, &space);
        CTestProduct(Platform::kPortLpc).Serve();
    }));
    ASSERT_TRUE(m_product->IsReady());
    CRawClient hostile;
    ASSERT_TRUE(hostile.Connect(Platform::kPortLpc));
    ASSERT_TRUE(hostile.Send(LpcRequestWithEntry(static_cast<std::uint32_t>(Platform::kPortMaxRequestData))));
    EXPECT_LT(hostile.AnswerReads(), Platform::kPortMaxRequestData) << "the whole entry was taken";
    EXPECT_TRUE(hostile.IsDroppedWithin(std::chrono::milliseconds(5000)));
    EXPECT_TRUE(ProductIsAlive());
    EXPECT_LT(EchoTime(Platform::kPortLpc), kServedWithin);
    EXPECT_TRUE(ProductIsAlive());
}

// With every descriptor taken, the listener rests instead of waking the server over and over.
TEST(DescriptorExhaustionTest, ServerRestsAndAcceptsAgainOnceDescriptorsAreBack) {
    CTemporaryObjectRoot root;
    CPortServer server(Platform::kPortAlpc,
                       Platform::CPixlinkPortServer::PortName(Platform::kPortAlpc, kLocalId, kRemoteId));
    ASSERT_TRUE(server.IsListening());
    constexpr int kClients = 8;
    constexpr int kSpare = 3;  // descriptors the server can still take: fewer than the clients
    std::vector<CPortSocket> clients;
    for (int i = 0; i < kClients; ++i) {
        CPortSocket client;
        ASSERT_EQ(0, CPortSocket::Connect(PortPath(Platform::kPortAlpc), client));
        clients.push_back(std::move(client));
    }
    rlimit original;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &original));
    // The lowest free descriptor numbers are the ones the server gets; the limit is one past them.
    std::vector<CUniqueFd> probe;
    for (int i = 0; i < kSpare; ++i) {
        probe.emplace_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(probe.back().Get() + 1);
    probe.clear();
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &lowered));

    constexpr auto kWindow = std::chrono::milliseconds(600);
    timespec before;
    timespec after;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    Platform::CPortRequest request;
    EXPECT_FALSE(server.Receive(request, static_cast<int>(kWindow.count())));
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &original));
    const auto busy = std::chrono::seconds(after.tv_sec - before.tv_sec) +
                      std::chrono::nanoseconds(after.tv_nsec - before.tv_nsec);
    EXPECT_EQ(static_cast<std::size_t>(kSpare), server.Connections());
    EXPECT_LT(busy, kWindow / 4) << "the server spun on a listener it could not accept from";

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (server.Connections() < static_cast<std::size_t>(kClients) && Clock::now() < deadline) {
        server.Receive(request, 100);
    }
    EXPECT_EQ(static_cast<std::size_t>(kClients), server.Connections());
}

// Shrinking the broadcast area under a reader leaves the reader running: the read that meets the
// cut fails, as for a product that is gone, and once a new product has put up its area the reader
// reads that one. A SIGBUS sent to the reader on the way does not take the guard away.
enum class Previous { kNone, kHandler };

struct TruncationCase {
    const char* name;
    off_t length;         // what the area file is cut to
    bool straySignal;     // a SIGBUS sent to the reader before the cut
    Previous previous;    // what handled SIGBUS in the reader before its guard
    std::int64_t offset;  // where in the data area the reader reads
    std::uint32_t dataSize;
};

class BroadcastTruncationTest : public ::testing::TestWithParam<TruncationCase> {};

constexpr std::uint32_t kPagesBeyondTheCut = 3 * 4096;
constexpr std::int64_t kLastPage = kPagesBeyondTheCut - 8;

// One byte through a pipe, or false when none comes within the deadline.
bool AwaitByte(int fd, std::chrono::milliseconds within) {
    pollfd entry = {fd, POLLIN, 0};
    char byte = 0;
    return poll(&entry, 1, static_cast<int>(within.count())) == 1 && read(fd, &byte, 1) == 1;
}

volatile sig_atomic_t g_strayHandled = 0;

void CountStray(int) {
    g_strayHandled = g_strayHandled + 1;
}

// The reader's SIGBUS disposition before it maps anything, so that its guard takes this one as
// the previous (a sanitizer's own handler would otherwise be the one the stray signal goes to).
void SetPreviousDisposition(Previous previous) {
    struct sigaction action = {};
    action.sa_handler = previous == Previous::kHandler ? &CountStray : SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

TEST_P(BroadcastTruncationTest, ReaderFailsThenReadsTheNewProductsArea) {
    const std::uint32_t dataSize = GetParam().dataSize;
    constexpr std::uint32_t kOldValue = 0xC0FFEE;
    constexpr std::uint32_t kNewValue = 0xBEEF;
    // The reader's exit codes, by the step that went wrong.
    enum : int { kPassed = 0, kFirstRead = 2, kStray = 3, kReadAfterCut = 4, kReadOfNewArea = 5, kPipe = 6 };
    CTemporaryObjectRoot root;
    std::unique_ptr<Platform::CBroadcastWriter> writer(
        new Platform::CBroadcastWriter(kLocalId, kRemoteId, dataSize));
    ASSERT_TRUE(writer->IsOpen());
    const std::int64_t offset = GetParam().offset;
    ASSERT_TRUE(writer->WriteDword(offset, kOldValue));
    int toParent[2];
    int toReader[2];
    ASSERT_EQ(0, pipe(toParent));
    ASSERT_EQ(0, pipe(toReader));
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        alarm(30);  // a reader that hangs ends, and says so by its signal
        SetPreviousDisposition(GetParam().previous);
        Pixlink::CPixlinkAlpcClient client;
        std::uint32_t value = 0;
        if (client.Init(kLocalId, kRemoteId, 0) != 0 || client.ReadBroadcastDword(offset, &value) != 0 ||
            value != kOldValue) {
            _exit(kFirstRead);
        }
        if (GetParam().straySignal) {
            kill(getpid(), SIGBUS);
            if (g_strayHandled != (GetParam().previous == Previous::kHandler ? 1 : 0)) {
                _exit(kStray);
            }
        }
        if (write(toParent[1], "o", 1) != 1 || !AwaitByte(toReader[0], std::chrono::seconds(10))) {
            _exit(kPipe);
        }
        std::uint8_t bytes[8] = {};
        if (client.ReadBroadcastDword(offset, &value) == 0 || client.ReadBroadcast(offset, bytes, 8) == 0) {
            _exit(kReadAfterCut);
        }
        if (write(toParent[1], "f", 1) != 1 || !AwaitByte(toReader[0], std::chrono::seconds(10))) {
            _exit(kPipe);
        }
        value = 0;
        if (client.ReadBroadcastDword(offset, &value) != 0 || value != kNewValue) {
            _exit(kReadOfNewArea);
        }
        _exit(kPassed);
    }
    close(toParent[1]);
    close(toReader[0]);
    const std::string path =
        Platform::CObjectNamespace::PathOf(Platform::CBroadcastWriter::AreaName(kLocalId, kRemoteId));
    if (AwaitByte(toParent[0], std::chrono::seconds(10))) {
        EXPECT_EQ(0, truncate(path.c_str(), GetParam().length));
        writer.reset();  // the product is gone
        EXPECT_EQ(1, write(toReader[1], "c", 1));
    }
    if (AwaitByte(toParent[0], std::chrono::seconds(10))) {
        writer.reset(new Platform::CBroadcastWriter(kLocalId, kRemoteId, dataSize));
        EXPECT_TRUE(writer->IsOpen());
        EXPECT_TRUE(writer->WriteDword(offset, kNewValue));
        EXPECT_EQ(1, write(toReader[1], "r", 1));
    }
    close(toReader[1]);
    close(toParent[0]);
    int status = 0;
    ASSERT_EQ(reader, waitpid(reader, &status, 0));
    EXPECT_FALSE(WIFSIGNALED(status)) << "reader killed by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kPassed)
        << "reader's exit code " << WEXITSTATUS(status);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, BroadcastTruncationTest,
    ::testing::Values(
        TruncationCase{"ToNothing", 0, false, Previous::kNone, kLastPage, kPagesBeyondTheCut},
        TruncationCase{"ToOnePageAfterAStraySignal", 4096, true, Previous::kNone, kLastPage,
                       kPagesBeyondTheCut},
        TruncationCase{"ToNothingAfterAStraySignalForAnotherHandler", 0, true, Previous::kHandler, kLastPage,
                       kPagesBeyondTheCut},
        // The header and the first counters survive the cut; the reader reads only those.
        TruncationCase{"KeepingTheHeaderUnderAReaderOfTheFirstCounters", 64, false, Previous::kNone, 0,
                       kPagesBeyondTheCut},
        // The whole area is one page: the cut faults nothing, the rest of the page reads as zeros.
        TruncationCase{"InsideTheAreasOnlyPage", 64, false, Previous::kNone, 0, 256}),
    [](const ::testing::TestParamInfo<TruncationCase>& info) { return info.param.name; });

// The guard keeps only its own views alive: a fault anywhere else still ends the process by SIGBUS.
TEST(BroadcastGuardTest, FaultOutsideTheAreaStillEndsTheProcess) {
    CTemporaryObjectRoot root;
    Platform::CBroadcastWriter writer(kLocalId, kRemoteId, 4096);
    ASSERT_TRUE(writer.IsOpen());
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        alarm(30);
        SetPreviousDisposition(Previous::kNone);
        Pixlink::CPixlinkAlpcClient client;
        std::uint32_t value = 0;
        const int fd = memfd_create("unguarded", MFD_CLOEXEC);
        if (client.Init(kLocalId, kRemoteId, 0) != 0 || client.ReadBroadcastDword(0, &value) != 0 || fd < 0 ||
            ftruncate(fd, 4096) != 0) {
            _exit(2);
        }
        void* view = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
        if (view == MAP_FAILED || ftruncate(fd, 0) != 0) {
            _exit(2);
        }
        _exit(static_cast<volatile const std::uint8_t*>(view)[0] == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(reader, waitpid(reader, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << "status " << status;
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
