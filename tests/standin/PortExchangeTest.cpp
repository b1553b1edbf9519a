// The port clients against the in-process stand-in of the kernel's ports: the same cases as the
// exchanging tests over the Linux substitute, and they run wherever the clients are built, the
// Windows build under Wine included.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "tests/ipc/IpcIds.h"
#include "tests/ipc/TestCommands.h"
#include "tests/standin/StandInProduct.h"

namespace Zun {
namespace IpcTest {
namespace {

using Connectors::Common::Pixlink::CPixlinkAlpcClient;
using Connectors::Common::Pixlink::CPixlinkClientNt;
using Connectors::Common::Pixlink::CPixlinkGrowableBuffer;
using Connectors::Common::Pixlink::CServerAccount;
using Connectors::Common::Pixlink::IPixlinkClient;
using Testing::CPortStandIn;

const std::string kAlpcPort = "\\BaseNamedObjects\\PIXLINK61464445To31464445CommPortAlpc";
const std::string kLpcPort = "\\BaseNamedObjects\\PIXLINK61464445To31464445CommPort";
const std::string kLocalSystem = "S-1-5-18";
const std::string kSomeUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr Platform::NTSTATUS kNoMemory = static_cast<Platform::NTSTATUS>(0xC0000017);

// A client of one kind against the test product on its port, with what the stand-in saw.
class ExchangeTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_client) {
            m_client->Close();
        }
        EXPECT_EQ(0u, m_ports.OpenHandles()) << "every port, section and handle is closed again";
        EXPECT_EQ(0u, m_ports.OpenViews()) << "every section view is unmapped again";
    }

    void StartAlpc(std::uint32_t flags = 0) {
        m_ports.Serve(CPortStandIn::kAlpc, kAlpcPort, StandInProduct(CPortStandIn::kAlpc));
        m_client.reset(new CPixlinkAlpcClient);
        ASSERT_EQ(0u, m_client->Init(kLocalId, kRemoteId, flags));
    }
    void StartLpc(std::uint32_t flags = 0) {
        m_ports.Serve(CPortStandIn::kLpc, kLpcPort, StandInProduct(CPortStandIn::kLpc));
        m_client.reset(new CPixlinkClientNt<Platform::ULONG64>);
        ASSERT_EQ(0u, m_client->Init(kLocalId, kRemoteId, flags));
    }

    std::vector<std::uint32_t> Report(const std::vector<std::uint8_t>& request, std::uint64_t capacity,
                                      std::uint32_t command = kReport) {
        std::vector<std::uint8_t> reply(std::max<std::uint64_t>(capacity, 4 * kReportFields));
        std::uint64_t length = 0;
        EXPECT_EQ(0u, m_client->Request(0, command, request.data(), request.size(), reply.data(), capacity,
                                        &length, 0));
        std::vector<std::uint32_t> fields(kReportFields);
        std::memcpy(fields.data(), reply.data(), std::min<std::size_t>(length, fields.size() * 4));
        return fields;
    }

    CPortStandIn m_ports;
    std::unique_ptr<IPixlinkClient> m_client;
};

class AlpcRequestFormTest : public ExchangeTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(AlpcRequestFormTest, RequestTravelsInlineUpToTheLimitAndInASectionBeyond) {
    StartAlpc();
    const std::vector<std::uint8_t> request = Pattern(GetParam());
    const std::vector<std::uint32_t> report = Report(request, 4 * kReportFields);
    const bool inlined = request.size() <= 65479;
    EXPECT_EQ(16 + (inlined ? request.size() : 0), report[kDataLength]);
    EXPECT_EQ(inlined ? 0u : request.size(), report[kViewSize]);
    EXPECT_EQ(inlined ? 0u : 0x60000u, report[kViewFlags]);
    EXPECT_EQ(4 * kReportFields, report[kCapacityField]);
    EXPECT_EQ(0u, report[kField44]);
    EXPECT_EQ(request.size(), report[kRequestLength]);
    EXPECT_EQ(Checksum(request.data(), request.size()), report[kRequestChecksum]);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, AlpcRequestFormTest, ::testing::Values(0u, 65479u, 65480u, 1000000u));

struct ReplyCase {
    CPortStandIn::Kind kind;
    std::uint32_t size;
};

class ReplySizeTest : public ExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplySizeTest, ReplyArrivesWholeAndNothingBeyondIt) {
    GetParam().kind == CPortStandIn::kAlpc ? StartAlpc() : StartLpc();
    const std::uint32_t size = GetParam().size;
    const std::vector<std::uint8_t> request = Words({size});
    std::vector<std::uint8_t> reply(size + 16, 0xAA);
    std::uint64_t length = 12345;
    // The LPC client lends its whole buffer; the ALPC client's capacity is what it asks for.
    const std::uint64_t capacity = GetParam().kind == CPortStandIn::kAlpc ? size : reply.size();
    ASSERT_EQ(0u, m_client->Request(0, kSized, request.data(), 4, reply.data(), capacity, &length, 0));
    EXPECT_EQ(size, length);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + size, Pattern(size).begin()));
    EXPECT_EQ(0xAA, reply[size]);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ReplySizeTest,
    ::testing::Values(ReplyCase{CPortStandIn::kAlpc, 0}, ReplyCase{CPortStandIn::kAlpc, 1},
                      ReplyCase{CPortStandIn::kAlpc, 65487}, ReplyCase{CPortStandIn::kAlpc, 65488},
                      ReplyCase{CPortStandIn::kAlpc, 300000}, ReplyCase{CPortStandIn::kLpc, 0},
                      ReplyCase{CPortStandIn::kLpc, 1}, ReplyCase{CPortStandIn::kLpc, 600},
                      ReplyCase{CPortStandIn::kLpc, 601}, ReplyCase{CPortStandIn::kLpc, 150000}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) {
        return std::string(info.param.kind == CPortStandIn::kAlpc ? "Alpc" : "Lpc") +
               std::to_string(info.param.size);
    });

struct FormCase {
    std::size_t requestLength;
    std::uint64_t capacity;
    std::uint32_t dataInfoOffset;
    std::uint32_t dataLength;
    std::uint32_t entry0Size;
};

class LpcFormTest : public ExchangeTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(LpcFormTest, RequestTravelsInTheFormItsSizeCallsFor) {
    StartLpc();
    const FormCase form = GetParam();
    const std::vector<std::uint8_t> request = Pattern(form.requestLength);
    const std::vector<std::uint32_t> report = Report(request, form.capacity);
    EXPECT_EQ(form.dataInfoOffset, report[kDataInfoOffset]);
    EXPECT_EQ(form.dataLength, report[kDataLength]);
    EXPECT_EQ(form.entry0Size, report[kEntry0Size]);
    EXPECT_EQ(form.dataInfoOffset == 0 ? 0u : form.capacity, report[kEntry1Size]);
    EXPECT_EQ(form.capacity, report[kCapacityField]);
    EXPECT_EQ(request.size(), report[kRequestLength]);
    EXPECT_EQ(Checksum(request.data(), request.size()), report[kRequestChecksum]);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, LpcFormTest,
                         ::testing::Values(FormCase{596, 600, 0, 608, 0}, FormCase{0, 600, 0, 12, 0},
                                           FormCase{597, 600, 52, 52, 597}, FormCase{10, 601, 52, 62, 0},
                                           FormCase{556, 601, 52, 608, 0}, FormCase{557, 601, 52, 52, 557},
                                           FormCase{200000, 700, 52, 52, 200000}),
                         [](const ::testing::TestParamInfo<FormCase>& info) {
                             return "Request" + std::to_string(info.param.requestLength) + "Capacity" +
                                    std::to_string(info.param.capacity);
                         });

TEST_F(ExchangeTest, AlpcReplyThatDoesNotFitNeedsAGrowableBuffer) {
    StartAlpc();
    for (std::uint32_t size : {1000u, 70000u}) {
        const std::vector<std::uint8_t> request = Words({size});
        std::vector<std::uint8_t> reply(size - 1);
        std::uint64_t length = 77;
        EXPECT_EQ(6u,
                  m_client->Request(0, kSized, request.data(), 4, reply.data(), reply.size(), &length, 0));
        EXPECT_EQ(77u, length);
        CPixlinkGrowableBuffer buffer;
        ASSERT_EQ(0u, m_client->RequestToBuffer(0, kSized, request.data(), 4, &buffer, 0));
        ASSERT_EQ(size, buffer.Length());
        EXPECT_EQ(0, std::memcmp(buffer.Data(), Pattern(size).data(), size));
    }
}

TEST_F(ExchangeTest, LpcReplyLongerThanTheBufferFails) {
    StartLpc();
    std::vector<std::uint8_t> reply(700);
    for (std::uint64_t capacity : {600u, 650u}) {
        const std::vector<std::uint8_t> request = Words({static_cast<std::uint32_t>(capacity + 1)});
        EXPECT_EQ(1u, m_client->Request(0, kSized, request.data(), 4, reply.data(), capacity, nullptr, 0));
    }
}

// Results that are the client's own, kind by kind: time-outs, unsupported calls and flags.
TEST_F(ExchangeTest, ResultCodesOfTheAlpcClient) {
    StartAlpc();
    const std::vector<std::uint8_t> word = Words({0xC0DE});
    EXPECT_EQ(0xC0DEu, m_client->Request(0, kResultWord, word.data(), 4, nullptr, 0, nullptr, 0));
    EXPECT_EQ(9u, m_client->Request(0, kDeferred, nullptr, 0, nullptr, 0, nullptr, -200 * 10000LL));
    EXPECT_EQ(10u, m_client->Init(kLocalId, kRemoteId, 2));
}

TEST_F(ExchangeTest, ResultCodesOfTheLpcClient) {
    StartLpc();
    const std::vector<std::uint8_t> word = Words({0x1234});
    std::vector<std::uint8_t> reply(32);
    std::uint64_t length = 0;
    EXPECT_EQ(0x1234u,
              m_client->Request(0, kResultWord, word.data(), 4, reply.data(), reply.size(), &length, 0));
    EXPECT_EQ(16u, length);
    EXPECT_EQ(10u, m_client->Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, -10000));
    CPixlinkGrowableBuffer buffer;
    EXPECT_EQ(1u, m_client->RequestToBuffer(0, kReport, nullptr, 0, &buffer, 0));
}

TEST_F(ExchangeTest, AlpcRequestToBufferTellsTheProductThatAnySizeWillDo) {
    StartAlpc();
    CPixlinkGrowableBuffer buffer;
    ASSERT_EQ(0u, m_client->RequestToBuffer(0, kReport, nullptr, 0, &buffer, 0));
    std::vector<std::uint32_t> report(kReportFields);
    ASSERT_EQ(report.size() * 4, buffer.Length());
    std::memcpy(report.data(), buffer.Data(), buffer.Length());
    EXPECT_EQ(1u, report[kField44]);
    EXPECT_EQ(0u, report[kCapacityField]);
}

class DisconnectTest : public ExchangeTest, public ::testing::WithParamInterface<CPortStandIn::Kind> {};

TEST_P(DisconnectTest, DroppedConnectionIsMadeAgainOnceForTheSameRequest) {
    GetParam() == CPortStandIn::kAlpc ? StartAlpc() : StartLpc();
    EXPECT_EQ(2u, Report({}, 100, kDropFirst)[kAcceptedConnections]);
    EXPECT_EQ(1u, m_client->Request(0, kDropAlways, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(4u, Report({}, 100)[kAcceptedConnections]);
}

TEST_P(DisconnectTest, OneWayMessagesArriveWithoutAReply) {
    GetParam() == CPortStandIn::kAlpc ? StartAlpc() : StartLpc();
    const std::vector<std::uint8_t> small = Pattern(100);
    EXPECT_EQ(0u, m_client->Request(1, kReport, small.data(), small.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, Report({}, 100)[kDatagrams]);
    // Too large for one message: the LPC client lends it and waits for the (empty) answer.
    const std::vector<std::uint8_t> large = Pattern(70000);
    EXPECT_EQ(0u, m_client->Request(1, kReport, large.data(), large.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(2u, Report({}, 100)[kDatagrams]);
}

TEST_P(DisconnectTest, MissingPortFails) {
    std::unique_ptr<IPixlinkClient> client;
    if (GetParam() == CPortStandIn::kAlpc) {
        client.reset(new CPixlinkAlpcClient);
    } else {
        client.reset(new CPixlinkClientNt<Platform::ULONG64>);
    }
    ASSERT_EQ(0u, client->Init(kLocalId, kRemoteId, 0));
    EXPECT_EQ(1u, client->Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    client->Close();
}

TEST_P(DisconnectTest, MalformedRepliesFail) {
    const bool alpc = GetParam() == CPortStandIn::kAlpc;
    alpc ? StartAlpc() : StartLpc();
    std::vector<std::uint32_t> cases = {kShortMessage, kLyingLength};
    if (alpc) {
        cases.insert(cases.end(), {kViewTooSmall, kLargeWithoutView, kViewWithoutFlag});
    }
    for (std::uint32_t which : cases) {
        const std::vector<std::uint8_t> request = Words({which});
        std::vector<std::uint8_t> reply(alpc ? 80000 : 700);
        EXPECT_EQ(1u,
                  m_client->Request(0, kMalformed, request.data(), 4, reply.data(), reply.size(), nullptr, 0))
            << "malformed reply " << which;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DisconnectTest, ::testing::Values(CPortStandIn::kAlpc, CPortStandIn::kLpc),
                         [](const ::testing::TestParamInfo<CPortStandIn::Kind>& info) {
                             return std::string(info.param == CPortStandIn::kAlpc ? "Alpc" : "Lpc");
                         });

TEST_F(ExchangeTest, SectionFailureFailsTheRequestAfterOneRetry) {
    StartAlpc();
    m_ports.FailSections(kNoMemory);
    const std::vector<std::uint8_t> request = Pattern(65480);
    EXPECT_EQ(1u, m_client->Request(0, kReport, request.data(), request.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(0u, m_ports.Requests()) << "nothing reached the product";
}

// Whom the clients talk to: both name the account that must serve the port, ask for no more than
// identification, and send nothing to a port that someone else serves.
struct IdentityCase {
    CPortStandIn::Kind kind;
    std::string servedBy;
    std::string required;  // empty: the default
    bool accepted;
};

class ServerIdentityTest : public ExchangeTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(ServerIdentityTest, ConnectNamesTheServerAccountAndAllowsOnlyIdentification) {
    const IdentityCase& c = GetParam();
    const bool alpc = c.kind == CPortStandIn::kAlpc;
    m_ports.Serve(c.kind, alpc ? kAlpcPort : kLpcPort, StandInProduct(c.kind), c.servedBy);
    CServerAccount account;
    ASSERT_TRUE(c.required.empty() || account.Parse(c.required));
    const std::vector<std::uint8_t> empty = Words({0});
    Platform::NTSTATUS connectStatus = 0;
    std::uint32_t result = 0;
    if (alpc) {
        auto* client = new CPixlinkAlpcClient;
        m_client.reset(client);
        ASSERT_EQ(0u, client->Init(kLocalId, kRemoteId, 0));
        if (!c.required.empty()) {
            client->SetServerAccount(account);
        }
        result = client->Request(0, kSized, empty.data(), empty.size(), nullptr, 0, nullptr, 0);
        connectStatus = client->LastConnectStatus();
    } else {
        auto* client = new CPixlinkClientNt<Platform::ULONG64>;
        m_client.reset(client);
        ASSERT_EQ(0u, client->Init(kLocalId, kRemoteId, 0));
        if (!c.required.empty()) {
            client->SetServerAccount(account);
        }
        result = client->Request(0, kSized, empty.data(), empty.size(), nullptr, 0, nullptr, 0);
        connectStatus = client->LastConnectStatus();
    }
    const std::vector<CPortStandIn::Connect> connects = m_ports.Connects();
    ASSERT_FALSE(connects.empty());
    for (const CPortStandIn::Connect& connect : connects) {
        EXPECT_TRUE(connect.secure) << "connected through the call that checks the server";
        EXPECT_EQ(account.Bytes(), connect.requiredSid);
        EXPECT_EQ(1, connect.qos.ImpersonationLevel) << "identification, never impersonation";
        EXPECT_EQ(1, connect.qos.ContextTrackingMode);
        EXPECT_EQ(0, connect.qos.EffectiveOnly);
    }
    if (c.accepted) {
        EXPECT_EQ(0u, result);
        EXPECT_EQ(0, connectStatus);
        EXPECT_EQ(1u, m_ports.Requests());
    } else {
        EXPECT_EQ(1u, result);
        EXPECT_EQ(Platform::STATUS_SERVER_SID_MISMATCH, connectStatus);
        EXPECT_EQ(0u, m_ports.Requests()) << "nothing was sent to the wrong server";
    }
}

INSTANTIATE_TEST_SUITE_P(Accounts, ServerIdentityTest,
                         ::testing::Values(IdentityCase{CPortStandIn::kAlpc, kLocalSystem, "", true},
                                           IdentityCase{CPortStandIn::kLpc, kLocalSystem, "", true},
                                           IdentityCase{CPortStandIn::kAlpc, kSomeUser, "", false},
                                           IdentityCase{CPortStandIn::kLpc, kSomeUser, "", false},
                                           IdentityCase{CPortStandIn::kAlpc, kSomeUser, kSomeUser, true},
                                           IdentityCase{CPortStandIn::kLpc, kLocalSystem, kSomeUser, false}));

// The text form of an account, as the agent's configuration gives it.
TEST(ServerAccountTest, TextFormIsReadStrictly) {
    struct Case {
        const char* text;
        bool valid;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"S-1-5-18", true, {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}},
        {"S-1-5-32-544", true, {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}},
        {"S-1-5-21-4294967295", true, {1, 2, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"S-1-5", true, {1, 0, 0, 0, 0, 0, 0, 5}},
        {"S-1-5-21-4294967296", false, {}},
        {"S-2-5-18", false, {}},
        {"s-1-5-18", false, {}},
        {"S-1-5-18-", false, {}},
        {"S-1--18", false, {}},
        {"S-1-5-+18", false, {}},
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", false, {}},
        {"", false, {}},
        {"LocalSystem", false, {}},
    };
    for (const Case& c : cases) {
        CServerAccount account;
        EXPECT_EQ(c.valid, account.Parse(c.text)) << c.text;
        EXPECT_EQ(c.valid ? c.bytes : CServerAccount().Bytes(), account.Bytes()) << c.text;
    }
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
