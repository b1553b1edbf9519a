#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>
#include <cstring>
#include <functional>
#include <memory>

#include "channel/CQUILChannel.h"
#include "core/CErrorReplyChannelException.h"
#include "platform/CBroadcastWriter.h"
#include "platform/CPixlinkPortServer.h"
#include "platform/PortWire.h"
#include "tests/support/CServerProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"

using namespace Zun;
using Connectors::Common::CErrorReplyChannelException;
using Connectors::QUILConnector::CQUILChannel;
using Platform::CBroadcastWriter;
using Platform::CPixlinkPortServer;
using Platform::CPortRequest;
using Testing::CServerProcess;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.begin(), bytes.size());
    return bytes;
}

// What the product does with one request: the request bytes in, a result word and reply bytes out.
// Result 0xFFFFFFFF drops the connection instead.
typedef std::function<std::pair<uint32_t, Bytes>(uint32_t kind, const Bytes& request)> Script;

// A request whose body asks the product for a reply: status, announced body length, real body size.
Bytes Ask(uint32_t status, uint32_t bodyLength, uint32_t bodySize, uint32_t headerSize = 12) {
    Bytes request = Words({12, 0x1000600, 2});
    Bytes body = Words({status, bodyLength, bodySize, headerSize});
    request.insert(request.end(), body.begin(), body.end());
    return request;
}

uint32_t Word(const Bytes& bytes, size_t offset) {
    uint32_t word = 0;
    if (bytes.size() >= offset + 4) {
        std::memcpy(&word, bytes.data() + offset, 4);
    }
    return word;
}

// The default product: answers pings, and answers an Ask with the reply it describes. The body
// names the port that carried it ("A" or "L") and the reply capacity the client offered.
std::pair<uint32_t, Bytes> Answer(uint32_t kind, const Bytes& request, uint32_t capacity) {
    if (request.size() < 28) {
        return {0, {}};
    }
    Bytes reply = Words({Word(request, 24), Word(request, 12), Word(request, 16)});
    Bytes body(Word(request, 20), kind == Platform::kPortAlpc ? 'A' : 'L');
    if (body.size() >= 8) {
        std::memcpy(body.data() + 4, &capacity, 4);
    }
    reply.insert(reply.end(), body.begin(), body.end());
    return {0, reply};
}

// A product's refusal of a ping. Not result 1, which the clients take for a transport failure and
// send once more, so that every attempt of the channel reaches the product exactly once.
constexpr uint32_t kPingRefused = 5;

// The product answers pings from the (failedPings + 1)th on; -1 never.
std::unique_ptr<CServerProcess> Product(uint32_t kind, int failedPings = 0) {
    return std::unique_ptr<CServerProcess>(new CServerProcess([kind, failedPings] {
        int pings = 0;
        CPixlinkPortServer server(kind, CQUILChannel::LocalId, CQUILChannel::RemoteId);
        if (!server.IsListening()) {
            return;
        }
        CServerProcess::Ready();
        for (;;) {
            CPortRequest request;
            if (!server.Receive(request, -1)) {
                continue;
            }
            Bytes bytes;
            server.RequestBytes(request, bytes);
            if (server.MessageType(request) == 0) {
                const bool answer = failedPings >= 0 && ++pings > failedPings;
                server.Reply(request, answer ? 0 : kPingRefused, {});
                continue;
            }
            const auto answer = Answer(kind, bytes, server.ReplyCapacity(request));
            server.Reply(request, answer.first, answer.second);
        }
    }));
}

class TestChannel : public CQUILChannel {
public:
    TestChannel() : CQUILChannel(boost::chrono::milliseconds(1)) {}
};

class Recorder : public Connectors::Common::IBufferReceiver {
public:
    void Receive(const Bytes& payload) override { payloads.push_back(payload); }
    std::vector<Bytes> payloads;
};

class ChannelTest : public ::testing::Test {
protected:
    std::string Failure(const std::function<void()>& call) {
        try {
            call();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    Testing::CTemporaryObjectRoot root;
};

TEST_F(ChannelTest, ClientChoiceFollowsWhichPortAnswers) {
    struct Case {
        bool alpc;
        bool lpc;
        bool legacy;
        char port;
    };
    for (const Case& c :
         {Case{true, true, false, 'A'}, Case{false, true, true, 'L'}, Case{true, false, false, 'A'}}) {
        Testing::CTemporaryObjectRoot root;
        auto alpc = c.alpc ? Product(Platform::kPortAlpc) : nullptr;
        auto lpc = c.lpc ? Product(Platform::kPortLpc) : nullptr;
        TestChannel channel;
        channel.Start();
        EXPECT_EQ(c.legacy, channel.IsLegacy());
        auto recorder = boost::make_shared<Recorder>();
        channel.SetBufferReceiver(recorder);
        channel.SendRequest(Ask(0, 8, 8));
        ASSERT_EQ(1u, recorder->payloads.size());
        EXPECT_EQ(20u, recorder->payloads[0].size()) << "header and body, nothing more";
        EXPECT_EQ(c.port, recorder->payloads[0][12]);
    }
}

TEST_F(ChannelTest, StartGivesUpAfterSixtyPingsWithTheLastError) {
    auto alpc = Product(Platform::kPortAlpc, -1);
    TestChannel channel;
    const std::string error = Failure([&] { channel.Start(); });
    EXPECT_EQ(0u, error.find("Cannot start pixlink channel: Ping (CCCOMM_PING) failed with 5, Legacy ping "
                             "(CCCOMM_PING) failed with "))
        << error;
    EXPECT_EQ(std::string::npos, error.find("Cannot start", 1)) << "only the last attempt's text";
}

TEST_F(ChannelTest, StartTriesSixtyTimes) {
    EXPECT_EQ(60, CQUILChannel::StartAttempts);
    for (int refused : {59, 60}) {
        Testing::CTemporaryObjectRoot root;
        auto alpc = Product(Platform::kPortAlpc, refused);
        TestChannel channel;
        const std::string error = Failure([&] { channel.Start(); });
        EXPECT_EQ(refused == 60, !error.empty()) << refused << " pings refused: " << error;
        EXPECT_FALSE(channel.IsLegacy());
    }
}

TEST_F(ChannelTest, UndecidedTransportFailureFallsBackToTheLegacyPort) {
    {
        auto lpc = Product(Platform::kPortLpc);
        TestChannel channel;
        auto recorder = boost::make_shared<Recorder>();
        channel.SetBufferReceiver(recorder);
        channel.SendRequest(Ask(0, 8, 8));
        EXPECT_TRUE(channel.IsLegacy());
        ASSERT_EQ(1u, recorder->payloads.size());
        EXPECT_EQ('L', recorder->payloads[0][12]);
    }
    TestChannel channel;
    const std::string error = Failure([&] { channel.SendRequest(Ask(0, 0, 0)); });
    EXPECT_NE(std::string::npos, error.find("CPixlinkChannel: Send request failed with pixlink error "));
    EXPECT_NE(std::string::npos,
              error.find(", Non-legacy CPixlinkChannel: Send request failed with pixlink error "))
        << error;
}

// Once a ping decided the port, a transport failure is an error; only a later ping that the ALPC
// port fails and the LPC port answers moves to the legacy port, and no ping moves back.
TEST_F(ChannelTest, TheDecidedPortChangesOnlyThroughAPingAndOnlyToLegacy) {
    auto alpc = Product(Platform::kPortAlpc);
    auto lpc = Product(Platform::kPortLpc);
    TestChannel channel;
    channel.Start();
    ASSERT_FALSE(channel.IsLegacy());
    alpc.reset();
    EXPECT_EQ("CPixlinkChannel: Send request failed with pixlink error 1",
              Failure([&] { channel.SendRequest(Ask(0, 8, 8)); }));
    EXPECT_FALSE(channel.IsLegacy());
    std::string error;
    EXPECT_TRUE(channel.PingProduct(error));
    EXPECT_TRUE(channel.IsLegacy());
    alpc = Product(Platform::kPortAlpc);
    ASSERT_TRUE(alpc->IsReady());
    error.clear();
    EXPECT_TRUE(channel.PingProduct(error)) << error;
    EXPECT_TRUE(channel.IsLegacy()) << "a ping that the ALPC port answers keeps the legacy port";
}

TEST_F(ChannelTest, ReplyStatusesAndHeaders) {
    struct Case {
        Bytes request;
        std::string error;
        uint32_t status;  // of the error reply, when there is one
    };
    const std::string base = "CPixlinkChannel: Send request failed with ";
    const Case cases[] = {
        {Ask(0, 0, 0), "", 0},
        {Ask(18, 99, 0), "", 0},
        {Ask(14, 0, 0),
         base + "14, Command failed - Make sure that Agent runs with Administrator privileges.", 14},
        {Ask(7, 0, 0), base + "7", 7},
        {Ask(0, 0, 0, 16), "CPixlinkChannel: Reply header has wrong size", 0},
    };
    auto alpc = Product(Platform::kPortAlpc);
    TestChannel channel;
    channel.Start();
    for (const Case& c : cases) {
        try {
            channel.SendRequest(c.request);
            EXPECT_EQ("", c.error);
        } catch (const CErrorReplyChannelException& e) {
            EXPECT_EQ(c.error, e.what());
            EXPECT_EQ(c.status, e.GetStatus());
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(c.error, e.what());
            EXPECT_EQ(0u, c.status);
        }
    }
}

TEST_F(ChannelTest, ShortReplyIsRejected) {
    // A product that answers with 5 bytes: not even a reply header.
    auto alpc = std::unique_ptr<CServerProcess>(new CServerProcess([] {
        CPixlinkPortServer server(Platform::kPortAlpc, CQUILChannel::LocalId, CQUILChannel::RemoteId);
        CServerProcess::Ready();
        for (;;) {
            CPortRequest request;
            if (server.Receive(request, -1)) {
                server.Reply(request, 0, server.MessageType(request) == 0 ? Bytes() : Bytes(5, 1));
            }
        }
    }));
    TestChannel channel;
    channel.Start();
    EXPECT_EQ("PixlinkChannelBuffer: Buffer is not full enough",
              Failure([&] { channel.SendRequest(Ask(0, 0, 0)); }));
}

TEST_F(ChannelTest, LargeRepliesGrowTheBufferByDoubling) {
    auto alpc = Product(Platform::kPortAlpc);
    TestChannel channel;
    channel.Start();
    auto recorder = boost::make_shared<Recorder>();
    channel.SetBufferReceiver(recorder);
    channel.SendRequest(Ask(0, 100000, 100000));
    ASSERT_EQ(1u, recorder->payloads.size());
    EXPECT_EQ(100012u, recorder->payloads[0].size());
    EXPECT_EQ(131072u, Word(recorder->payloads[0], 16)) << "one resend with twice the capacity";
    // A product that always says the reply did not fit makes the buffer grow to its bound, no further.
    EXPECT_EQ("CPixlinkChannel: Reply buffer exeeded allowed size",
              Failure([&] { channel.SendRequest(Ask(5, 0, 0)); }));
}

// A product that answers status 5 (reply did not fit) until the client offers at least the capacity
// its request names, and then a body holding the capacity it was offered. Nothing large travels,
// so the buffer's bound can be reached without a reply of that size.
std::unique_ptr<CServerProcess> NeedsCapacityProduct() {
    return std::unique_ptr<CServerProcess>(new CServerProcess([] {
        CPixlinkPortServer server(Platform::kPortAlpc, CQUILChannel::LocalId, CQUILChannel::RemoteId);
        CServerProcess::Ready();
        for (;;) {
            CPortRequest request;
            if (!server.Receive(request, -1)) {
                continue;
            }
            Bytes bytes;
            server.RequestBytes(request, bytes);
            const uint32_t offered = server.ReplyCapacity(request);
            if (server.MessageType(request) == 0) {
                server.Reply(request, 0, {});
            } else if (offered < Word(bytes, 0)) {
                server.Reply(request, 0, Words({12, 5, 0}));
            } else {
                server.Reply(request, 0, Words({12, 0, 4, offered}));
            }
        }
    }));
}

// Status 5 doubles the buffer each time, up to 268,435,456 bytes exactly.
TEST_F(ChannelTest, StatusFiveDoublesTheBufferUpToItsBound) {
    struct Case {
        uint32_t needed;
        uint32_t offered;
    };
    // One step past the bound is the test above: a product that never gets enough room.
    const Case cases[] = {{65536, 65536}, {65537, 131072}, {100000, 131072}, {268435456, 268435456}};
    auto alpc = NeedsCapacityProduct();
    TestChannel channel;
    channel.Start();
    for (const Case& c : cases) {
        // Each request starts again from the initial capacity of 65,536 bytes.
        auto recorder = boost::make_shared<Recorder>();
        channel.SetBufferReceiver(recorder);
        EXPECT_EQ("", Failure([&] { channel.SendRequest(Words({c.needed})); })) << c.needed;
        ASSERT_EQ(1u, recorder->payloads.size()) << c.needed;
        EXPECT_EQ(c.offered, Word(recorder->payloads[0], 12)) << c.needed;
    }
}

}  // namespace

namespace {

class BroadcastTest : public ChannelTest {
protected:
    void SetUp() override {
        writer.reset(new CBroadcastWriter(CQUILChannel::LocalId, CQUILChannel::RemoteId, 512));
        ASSERT_TRUE(writer->IsOpen());
        for (unsigned i = 0; i < 10; ++i) {
            writer->SetValue(i, 100 + i);
        }
    }
    // A module table at `tableOffset` whose entry `index` is the server module, user data at 400.
    void ServerModule(uint32_t tableOffset, uint32_t index, uint32_t timestamp, uint32_t value,
                      uint32_t size = 8) {
        std::vector<CBroadcastWriter::ModuleEntry> entries(index + 1,
                                                           CBroadcastWriter::ModuleEntry{0x2000, 0, 0, 0});
        entries[index] = CBroadcastWriter::ModuleEntry{0x1004000, size, 400, timestamp};
        ASSERT_TRUE(writer->SetModuleTable(tableOffset, entries));
        ASSERT_TRUE(writer->WriteDword(404, value));
    }

    std::unique_ptr<CServerProcess> alpc = Product(Platform::kPortAlpc);
    std::unique_ptr<CBroadcastWriter> writer;
    TestChannel channel;
};

TEST_F(BroadcastTest, PlainValuesAndUnknownIds) {
    for (uint32_t id = 0; id < 10; ++id) {
        EXPECT_EQ(100 + id, channel.GetBroadcast(id)) << id;
    }
    EXPECT_EQ("CPixlinkChannel: Unknown broadcast was specified", Failure([&] { channel.GetBroadcast(11); }));
}

TEST_F(BroadcastTest, ServerValueIsReadAgainOnlyWhenItsTimestampMoves) {
    for (uint32_t tableOffset : {84u, 100u}) {
        TestChannel channel;
        ServerModule(tableOffset, 1, 7, 4242);
        EXPECT_EQ(4242u, channel.GetBroadcast(10)) << tableOffset;
        ASSERT_TRUE(writer->WriteDword(404, 5151));
        EXPECT_EQ(4242u, channel.GetBroadcast(10)) << "unchanged timestamp: the cached value";
        ServerModule(tableOffset, 1, 8, 5151);
        EXPECT_EQ(5151u, channel.GetBroadcast(10));
    }
}

// A changed timestamp makes the channel check the kept slot; a slot that now holds another module
// sends it looking for the server module again.
TEST_F(BroadcastTest, ServerModuleFoundAgainInAnotherSlot) {
    ServerModule(84, 1, 7, 4242);
    EXPECT_EQ(4242u, channel.GetBroadcast(10));
    ASSERT_TRUE(writer->SetModuleTable(84, {CBroadcastWriter::ModuleEntry{0x1004000, 8, 400, 9},
                                            CBroadcastWriter::ModuleEntry{0x2000, 8, 300, 8}}));
    ASSERT_TRUE(writer->WriteDword(404, 5151));
    ASSERT_TRUE(writer->WriteDword(304, 1111));
    EXPECT_EQ(5151u, channel.GetBroadcast(10));
}

// Broadcast reads need a port decided first: a channel that no ping decided pings, and says so
// when the product does not answer.
TEST_F(BroadcastTest, AnUndecidedChannelPingsBeforeItReads) {
    alpc.reset();
    TestChannel undecided;
    EXPECT_EQ(0u, Failure([&] { undecided.GetBroadcast(0); })
                      .find("CPixlinkChannel::GetBroadcast: Ping (CCCOMM_PING) failed with 1, Legacy ping "
                            "(CCCOMM_PING) failed with 1"));
}

TEST_F(BroadcastTest, MissingServerModuleStaysMissing) {
    // No server module among the entries, or a count below zero: no modules at all.
    for (bool negativeCount : {false, true}) {
        TestChannel channel;
        ASSERT_TRUE(writer->SetModuleTable(84, {CBroadcastWriter::ModuleEntry{0x2000, 8, 400, 1}}));
        if (negativeCount) {
            ASSERT_TRUE(writer->WriteDword(20, 0xFFFFFFFF));
        }
        EXPECT_EQ(0xFFFFFFFFu, channel.GetBroadcast(10)) << negativeCount;
        ServerModule(84, 0, 1, 4242);
        EXPECT_EQ(0xFFFFFFFFu, channel.GetBroadcast(10)) << negativeCount;
    }
}

TEST_F(BroadcastTest, UndersizedUserDataIsRefusedForGood) {
    ServerModule(84, 0, 1, 4242, 4);
    EXPECT_EQ("CPixlinkChannel: serverPluginSize size is smaller than requested size",
              Failure([&] { channel.GetBroadcast(10); }));
    EXPECT_EQ(0xFFFFFFFFu, channel.GetBroadcast(10));
}

// The worker and the watchdog share one channel: requests, pings and broadcast reads from two
// threads must neither interleave on a port nor race on the caches.
TEST_F(BroadcastTest, WorkerAndWatchdogShareTheChannel) {
    ServerModule(100, 0, 1, 77);
    channel.Start();
    std::atomic<int> failures{0};
    boost::thread watchdog([&] {
        for (int i = 0; i < 200; ++i) {
            std::string error;
            failures += !channel.Ping(error);
            failures += channel.GetBroadcast(i % 11) != (i % 11 == 10 ? 77u : 100u + i % 11);
        }
    });
    auto recorder = boost::make_shared<Recorder>();
    channel.SetBufferReceiver(recorder);
    for (int i = 0; i < 200; ++i) {
        channel.SendRequest(Ask(0, 8, 8));
    }
    watchdog.join();
    EXPECT_EQ(0, failures.load());
    ASSERT_EQ(200u, recorder->payloads.size());
    for (const Bytes& payload : recorder->payloads) {
        EXPECT_EQ(20u, payload.size());
    }
}

// A restarted product takes over the area its readers still map, as it gets back a named mapping
// that a reader keeps alive; otherwise the watchdog would watch a dead product's values for good.
TEST_F(BroadcastTest, RestartedProductWritesWhereReadersLook) {
    EXPECT_EQ(100u, channel.GetBroadcast(0));
    writer.reset();
    writer.reset(new CBroadcastWriter(CQUILChannel::LocalId, CQUILChannel::RemoteId, 512));
    ASSERT_TRUE(writer->IsOpen());
    ASSERT_TRUE(writer->SetValue(0, 555));
    EXPECT_EQ(555u, channel.GetBroadcast(0));
}

TEST_F(BroadcastTest, LastValuesStartUnknown) {
    EXPECT_EQ(0xFFFFFFFFu, channel.GetLastValue(4));
    channel.SetLastValue(4, 3);
    EXPECT_EQ(3u, channel.GetLastValue(4));
}

}  // namespace
