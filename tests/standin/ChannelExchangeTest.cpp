// The product channel over the port clients and the in-process stand-in of the kernel's ports: the
// channel's exchanging cases on every platform, the Windows build under Wine included.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstring>
#include <functional>
#include <memory>

#include "channel/CQUILChannel.h"
#include "core/CErrorReplyChannelException.h"
#include "tests/standin/StandInProduct.h"

namespace Zun {
namespace {

using Connectors::Common::CErrorReplyChannelException;
using Connectors::Common::Pixlink::CServerAccount;
using Connectors::QUILConnector::CQUILChannel;
using IpcTest::MessageType;
using IpcTest::ProductReply;
using IpcTest::ReplyCapacity;
using IpcTest::RequestBytes;
using Testing::CPortStandIn;

typedef std::vector<uint8_t> Bytes;

const std::string kAlpcPort = "\\BaseNamedObjects\\PIXLINK61464445To31464445CommPortAlpc";
const std::string kLpcPort = "\\BaseNamedObjects\\PIXLINK61464445To31464445CommPort";
const std::string kSomeUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
// A product's refusal of a ping; not result 1, which the clients take for a transport failure and
// send once more.
constexpr uint32_t kPingRefused = 5;

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.begin(), bytes.size());
    return bytes;
}

uint32_t Word(const Bytes& bytes, size_t offset) {
    uint32_t word = 0;
    if (bytes.size() >= offset + 4) {
        std::memcpy(&word, bytes.data() + offset, 4);
    }
    return word;
}

// A request whose body asks the product for a reply: status, announced body length, real body size.
Bytes Ask(uint32_t status, uint32_t bodyLength, uint32_t bodySize, uint32_t headerSize = 12) {
    Bytes request = Words({12, 0x1000600, 2});
    Bytes body = Words({status, bodyLength, bodySize, headerSize});
    request.insert(request.end(), body.begin(), body.end());
    return request;
}

// The product: answers pings from the (failedPings + 1)th on (-1: never), and an Ask with the
// reply it describes, whose body names the port ('A' or 'L') and the capacity the client offered.
CPortStandIn::Handler Product(int failedPings = 0) {
    auto pings = std::make_shared<int>(0);
    return [failedPings, pings](const CPortStandIn::Request& request) {
        const Bytes bytes = RequestBytes(request);
        if (MessageType(request) == 0) {
            const bool answer = failedPings >= 0 && ++*pings > failedPings;
            return ProductReply(request, answer ? 0 : kPingRefused, {});
        }
        if (bytes.size() < 28) {
            return ProductReply(request, 0, {});
        }
        Bytes reply = Words({Word(bytes, 24), Word(bytes, 12), Word(bytes, 16)});
        Bytes body(Word(bytes, 20), request.kind == CPortStandIn::kAlpc ? 'A' : 'L');
        const uint32_t capacity = ReplyCapacity(request);
        if (body.size() >= 8) {
            std::memcpy(body.data() + 4, &capacity, 4);
        }
        reply.insert(reply.end(), body.begin(), body.end());
        // What does not fit the room offered is answered with status 5, for a larger buffer.
        if (reply.size() > capacity) {
            return ProductReply(request, 0, Words({12, 5, 0}));
        }
        return ProductReply(request, 0, reply);
    };
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

std::string Failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

class ChannelExchangeTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(0u, m_ports.OpenHandles());
        EXPECT_EQ(0u, m_ports.OpenViews());
    }
    CPortStandIn m_ports;
};

TEST_F(ChannelExchangeTest, ClientChoiceFollowsWhichPortAnswers) {
    struct Case {
        bool alpc;
        bool lpc;
        bool legacy;
        char port;
    };
    for (const Case& c :
         {Case{true, true, false, 'A'}, Case{false, true, true, 'L'}, Case{true, false, false, 'A'}}) {
        m_ports.StopServing(kAlpcPort);
        m_ports.StopServing(kLpcPort);
        if (c.alpc) {
            m_ports.Serve(CPortStandIn::kAlpc, kAlpcPort, Product());
        }
        if (c.lpc) {
            m_ports.Serve(CPortStandIn::kLpc, kLpcPort, Product());
        }
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

TEST_F(ChannelExchangeTest, StartGivesUpAfterSixtyPingsWithTheLastError) {
    m_ports.Serve(CPortStandIn::kAlpc, kAlpcPort, Product(-1));
    TestChannel channel;
    const std::string error = Failure([&] { channel.Start(); });
    EXPECT_EQ(
        "Cannot start pixlink channel: Ping (CCCOMM_PING) failed with 5, Legacy ping (CCCOMM_PING) "
        "failed with 1",
        error);
    EXPECT_EQ(60u, m_ports.Requests()) << "each attempt reached the product once";
    // The trace log's account of the connects: the ALPC port answered, no LPC port exists.
    EXPECT_EQ("ALPC connect NTSTATUS 0x00000000, LPC connect NTSTATUS 0xC0000034", channel.ConnectStatuses());
}

TEST_F(ChannelExchangeTest, UndecidedTransportFailureFallsBackToTheLegacyPort) {
    m_ports.Serve(CPortStandIn::kLpc, kLpcPort, Product());
    {
        TestChannel channel;
        auto recorder = boost::make_shared<Recorder>();
        channel.SetBufferReceiver(recorder);
        channel.SendRequest(Ask(0, 8, 8));
        EXPECT_TRUE(channel.IsLegacy());
        ASSERT_EQ(1u, recorder->payloads.size());
        EXPECT_EQ('L', recorder->payloads[0][12]);
    }
    m_ports.StopServing(kLpcPort);
    TestChannel channel;
    EXPECT_EQ(
        "CPixlinkChannel: Send request failed with pixlink error 1, Non-legacy CPixlinkChannel: Send "
        "request failed with pixlink error 1",
        Failure([&] { channel.SendRequest(Ask(0, 0, 0)); }));
}

TEST_F(ChannelExchangeTest, ReplyStatusesAndHeaders) {
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
    m_ports.Serve(CPortStandIn::kAlpc, kAlpcPort, Product());
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

// The reply buffer doubles while the reply does not fit, on either port; the large reply arrives
// through an ALPC view, or written into the buffer the LPC client lent.
TEST_F(ChannelExchangeTest, LargeRepliesGrowTheBufferByDoubling) {
    for (CPortStandIn::Kind kind : {CPortStandIn::kAlpc, CPortStandIn::kLpc}) {
        m_ports.StopServing(kAlpcPort);
        m_ports.StopServing(kLpcPort);
        m_ports.Serve(kind, kind == CPortStandIn::kAlpc ? kAlpcPort : kLpcPort, Product());
        TestChannel channel;
        channel.Start();
        auto recorder = boost::make_shared<Recorder>();
        channel.SetBufferReceiver(recorder);
        channel.SendRequest(Ask(0, 100000, 100000));
        ASSERT_EQ(1u, recorder->payloads.size());
        EXPECT_EQ(100012u, recorder->payloads[0].size());
        EXPECT_EQ(131072u, Word(recorder->payloads[0], 16)) << "one resend with twice the capacity";
    }
}

// A port served by another account than the one required is refused on both port kinds, the
// channel says so, and nothing reaches that server.
TEST_F(ChannelExchangeTest, PortsServedByAnotherAccountAreRefusedAndSaidSo) {
    m_ports.Serve(CPortStandIn::kAlpc, kAlpcPort, Product(), kSomeUser);
    m_ports.Serve(CPortStandIn::kLpc, kLpcPort, Product(), kSomeUser);
    TestChannel channel;
    EXPECT_EQ(
        "Cannot start pixlink channel: Ping (CCCOMM_PING) failed with 1 (refused: the port is served by "
        "another account than S-1-5-18; nothing was sent), Legacy ping (CCCOMM_PING) failed with 1 "
        "(refused: the port is served by another account than S-1-5-18; nothing was sent)",
        Failure([&] { channel.Start(); }));
    EXPECT_EQ(0u, m_ports.Requests());
    CServerAccount account;
    ASSERT_TRUE(account.Parse(kSomeUser));
    channel.SetServerAccount(account);
    EXPECT_EQ("", Failure([&] { channel.Start(); })) << "the account the agent names is accepted";
}

}  // namespace
}  // namespace Zun
