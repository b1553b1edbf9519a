#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "ipc/CKernel32.h"
#include "ipc/CNtdll.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/CNtdllSubstitute.h"
#include "platform/CObjectNamespace.h"
#include "platform/CPixlinkPortServer.h"
#include "platform/CPortSocket.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/ipc/TestProduct.h"

namespace Zun {
namespace IpcTest {
namespace {

using Connectors::Common::Pixlink::CKernel32;
using Connectors::Common::Pixlink::CNtdll;
using Connectors::Common::Pixlink::CPixlinkClientNt;
using Platform::NTSTATUS;
using Platform::PORT_MESSAGE;

std::atomic<int> g_calls{0};
std::atomic<NTSTATUS> g_firstStatus{0};

NTSTATUS FailingExchange(Platform::HANDLE port, PORT_MESSAGE* request, PORT_MESSAGE* reply) {
    if (g_calls++ == 0) {
        return g_firstStatus;
    }
    return Platform::CNtdllSubstitute::NtRequestWaitReplyPort(port, request, reply);
}

NTSTATUS FailingDatagram(Platform::HANDLE port, PORT_MESSAGE* request) {
    if (g_calls++ == 0) {
        return g_firstStatus;
    }
    return Platform::CNtdllSubstitute::NtRequestPort(port, request);
}

class LpcClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_product.reset(new CServerProcess([] { CTestProduct(Platform::kPortLpc).Serve(); }));
        ASSERT_TRUE(m_product->IsReady());
        ASSERT_EQ(0u, m_client.Init(kLocalId, kRemoteId, 0));
        g_calls = 0;
    }
    void TearDown() override { m_client.Close(); }

    std::vector<std::uint32_t> Report(const std::vector<std::uint8_t>& request, std::uint64_t capacity,
                                      std::uint32_t command = kReport) {
        std::vector<std::uint8_t> reply(std::max<std::uint64_t>(capacity, 4 * kReportFields));
        std::uint64_t length = 0;
        EXPECT_EQ(0u, m_client.Request(0, command, request.data(), request.size(), reply.data(), capacity,
                                       &length, 0));
        std::vector<std::uint32_t> fields(kReportFields);
        std::memcpy(fields.data(), reply.data(), std::min<std::size_t>(length, fields.size() * 4));
        return fields;
    }

    CTemporaryObjectRoot m_root;
    std::unique_ptr<CServerProcess> m_product;
    CPixlinkClientNt<Platform::ULONG64> m_client;
};

struct FormCase {
    std::size_t requestLength;
    std::uint64_t capacity;
    std::uint32_t dataInfoOffset;
    std::uint32_t dataLength;
    std::uint32_t entry0Size;
};

class LpcFormTest : public LpcClientTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(LpcFormTest, RequestTravelsInTheFormItsSizeCallsFor) {
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

class LpcReplyTest : public LpcClientTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LpcReplyTest, ReplyArrivesInlineOrThroughTheLentBuffer) {
    const std::uint32_t size = GetParam();
    const std::vector<std::uint8_t> request = Words({size});
    std::vector<std::uint8_t> reply(size + 16, 0xAA);
    std::uint64_t length = 12345;
    ASSERT_EQ(0u, m_client.Request(0, kSized, request.data(), request.size(), reply.data(), reply.size(),
                                   &length, 0));
    EXPECT_EQ(size, length);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + size, Pattern(size).begin()));
    EXPECT_EQ(0xAA, reply[size]);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LpcReplyTest, ::testing::Values(0u, 1u, 584u, 600u, 601u, 150000u));

TEST_F(LpcClientTest, ReplyLongerThanTheBufferFails) {
    std::vector<std::uint8_t> reply(700);
    for (std::uint64_t capacity : {600u, 650u}) {
        const std::vector<std::uint8_t> request = Words({static_cast<std::uint32_t>(capacity + 1)});
        EXPECT_EQ(1u, m_client.Request(0, kSized, request.data(), 4, reply.data(), capacity, nullptr, 0));
    }
}

TEST_F(LpcClientTest, ProductResultWordIsReturnedWithTheReply) {
    const std::vector<std::uint8_t> request = Words({0x1234});
    std::vector<std::uint8_t> reply(32);
    std::uint64_t length = 0;
    EXPECT_EQ(0x1234u,
              m_client.Request(0, kResultWord, request.data(), 4, reply.data(), reply.size(), &length, 0));
    EXPECT_EQ(16u, length);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + 16, Pattern(16).begin()));
}

TEST_F(LpcClientTest, TimeOutIsNotSupported) {
    EXPECT_EQ(10u, m_client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, -10000));
}

TEST_F(LpcClientTest, RequestToBufferIsNotSupported) {
    Connectors::Common::Pixlink::CPixlinkGrowableBuffer buffer;
    EXPECT_EQ(1u, m_client.RequestToBuffer(0, kReport, nullptr, 0, &buffer, 0));
}

TEST_F(LpcClientTest, FailedSendReconnectsOnce) {
    EXPECT_EQ(2u, Report({}, 100, kDropFirst)[kAcceptedConnections]);
    EXPECT_EQ(1u, m_client.Request(0, kDropAlways, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(4u, Report({}, 100)[kAcceptedConnections]);
}

TEST_F(LpcClientTest, InvalidParameterIsNotRetried) {
    g_firstStatus = Platform::STATUS_INVALID_PARAMETER;
    CSlotOverride<Platform::NtRequestWaitReplyPortFn> failing(CNtdll::Table(), CNtdll::NtRequestWaitReplyPort,
                                                              &FailingExchange);
    EXPECT_EQ(1u, m_client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(1, g_calls);
}

TEST_F(LpcClientTest, OtherSendFailureIsRetriedOnANewConnection) {
    g_firstStatus = Platform::STATUS_PORT_DISCONNECTED;
    CSlotOverride<Platform::NtRequestWaitReplyPortFn> failing(CNtdll::Table(), CNtdll::NtRequestWaitReplyPort,
                                                              &FailingExchange);
    EXPECT_EQ(2u, Report({}, 100)[kAcceptedConnections]);
    EXPECT_EQ(2, g_calls);
}

// A one-way message follows the rules of a request: an invalid parameter is final, any other failure
// gets one new connection and one resend, whose outcome counts.
TEST_F(LpcClientTest, OneWaySendFailuresAreResentOnceUnlessInvalid) {
    struct Case {
        NTSTATUS first;
        int calls;
        std::uint32_t result;
    };
    const std::vector<std::uint8_t> small = Pattern(100);
    for (const Case& c :
         {Case{Platform::STATUS_INVALID_PARAMETER, 1, 1u}, Case{Platform::STATUS_PORT_DISCONNECTED, 2, 0u}}) {
        g_calls = 0;
        g_firstStatus = c.first;
        CSlotOverride<Platform::NtRequestPortFn> failing(CNtdll::Table(), CNtdll::NtRequestPort,
                                                         &FailingDatagram);
        EXPECT_EQ(c.result, m_client.Request(1, kReport, small.data(), small.size(), nullptr, 0, nullptr, 0))
            << std::hex << c.first;
        EXPECT_EQ(c.calls, g_calls.load());
    }
}

TEST_F(LpcClientTest, MalformedRepliesFail) {
    for (std::uint32_t which : {kShortMessage, kLyingLength, kInconsistentHeader}) {
        const std::vector<std::uint8_t> request = Words({which});
        std::vector<std::uint8_t> reply(700);
        EXPECT_EQ(1u,
                  m_client.Request(0, kMalformed, request.data(), 4, reply.data(), reply.size(), nullptr, 0))
            << "malformed reply " << which;
    }
}

TEST_F(LpcClientTest, OneWayMessagesAreSentWithoutAReply) {
    const std::vector<std::uint8_t> small = Pattern(100);
    EXPECT_EQ(0u, m_client.Request(1, kReport, small.data(), small.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, Report({}, 100)[kDatagrams]);
    // Too large for one message: it waits for the product's (empty) answer like a request.
    const std::vector<std::uint8_t> large = Pattern(1000);
    std::vector<std::uint8_t> reply(100);
    EXPECT_EQ(
        0u, m_client.Request(1, kReport, large.data(), large.size(), reply.data(), reply.size(), nullptr, 0));
    EXPECT_EQ(2u, Report({}, 100)[kDatagrams]);
}

TEST_F(LpcClientTest, WorkerThreadFlagRunsTheExchangeOnAWorker) {
    static std::thread::id exchangeThread;
    CSlotOverride<Platform::NtRequestWaitReplyPortFn> recording(
        CNtdll::Table(), CNtdll::NtRequestWaitReplyPort,
        [](Platform::HANDLE port, PORT_MESSAGE* request, PORT_MESSAGE* reply) {
            exchangeThread = std::this_thread::get_id();
            return Platform::CNtdllSubstitute::NtRequestWaitReplyPort(port, request, reply);
        });
    ASSERT_EQ(0u, m_client.Init(kLocalId, kRemoteId, 2));
    const std::vector<std::uint8_t> request = Pattern(1000);
    EXPECT_EQ(request.size(), Report(request, 2000)[kRequestLength]);
    EXPECT_NE(std::this_thread::get_id(), exchangeThread);
}

TEST_F(LpcClientTest, WorkerThreadFlagFailsWhenNoThreadOrEventCanBeMade) {
    ASSERT_EQ(0u, m_client.Init(kLocalId, kRemoteId, 2));
    {
        CSlotOverride<Platform::CreateThreadFn> noThreads(
            CKernel32::Table(), CKernel32::CreateThread,
            [](Platform::SECURITY_ATTRIBUTES*, Platform::SIZE_T, Platform::LPTHREAD_START_ROUTINE, void*,
               Platform::DWORD, Platform::DWORD*) -> Platform::HANDLE { return nullptr; });
        EXPECT_EQ(1u, m_client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    }
    CSlotOverride<Platform::CreateEventWFn> noEvents(
        CKernel32::Table(), CKernel32::CreateEventW,
        [](Platform::SECURITY_ATTRIBUTES*, Platform::BOOL, Platform::BOOL,
           const Platform::WCHAR*) -> Platform::HANDLE { return nullptr; });
    EXPECT_EQ(1u, m_client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
}

TEST(LpcClientWithoutProductTest, MissingPortFails) {
    CTemporaryObjectRoot root;
    CPixlinkClientNt<Platform::ULONG64> client;
    ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, 0));
    EXPECT_EQ(1u, client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
}

// A product that answers every request with one raw packet: the client must give a result code
// for a write-and-reply packet that it cannot take, never write outside its buffers.
void ServeRawAnswers(const Platform::PortPacketHeader& answer, const std::vector<std::uint8_t>& payload) {
    const std::string path = Platform::CObjectNamespace::PathOf(
        Platform::CPixlinkPortServer::PortName(Platform::kPortLpc, kLocalId, kRemoteId));
    Platform::CObjectNamespace::EnsureFolder();
    const int listener = Platform::CPortSocket::Listen(path);
    CServerProcess::Ready();
    for (;;) {
        Platform::CPortSocket client(accept(listener, nullptr, nullptr));
        std::vector<std::uint8_t> buffer(Platform::kPortMaxPayload);
        for (;;) {
            Platform::PortPacketHeader header;
            std::size_t length = 0;
            Platform::CUniqueFd fd;
            if (client.Receive(header, buffer.data(), buffer.size(), length, fd,
                               Platform::CDeadline::Unlimited()) != 0) {
                break;
            }
            Platform::PortPacketHeader reply = answer;
            reply.messageId = header.messageId;
            if (header.kind == Platform::kPacketConnect) {
                reply = {Platform::kPacketConnectReply, 0, 0, 0, 0};
            }
            client.Send(reply, payload.data(), header.kind == Platform::kPacketConnect ? 0 : payload.size());
        }
    }
}

TEST(LpcHostileReplyTest, AWriteAndReplyPacketThatDoesNotAddUpFails) {
    struct Case {
        const char* what;
        std::uint32_t written;  // bytes the packet claims to write ahead of the reply message
        std::size_t payload;
        std::uint64_t capacity;  // the caller's reply buffer: above 600 the request carries entries
    };
    const Case cases[] = {
        {"claims more than the packet holds", 5000, 100, 4096},
        {"to a request without data entries", 8, 100, 64},
        {"leaves no reply message", 100, 100, 4096},
    };
    for (const Case& c : cases) {
        CTemporaryObjectRoot root;
        CServerProcess product([&c] {
            ServeRawAnswers({Platform::kPacketWriteReply, 0, 1, c.written, 0},
                            std::vector<std::uint8_t>(c.payload, 0xAB));
        });
        ASSERT_TRUE(product.IsReady()) << c.what;
        CPixlinkClientNt<Platform::ULONG64> client;
        ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, 0));
        std::vector<std::uint8_t> reply(c.capacity + 16, 0);
        std::uint64_t length = 0;
        const std::vector<std::uint8_t> request(16, 1);
        EXPECT_EQ(1u, client.Request(0, kReport, request.data(), request.size(), reply.data(), c.capacity,
                                     &length, 0))
            << c.what;
        EXPECT_EQ(std::vector<std::uint8_t>(16, 0), std::vector<std::uint8_t>(reply.end() - 16, reply.end()))
            << c.what << ": nothing written past the buffer";
        client.Close();
    }
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
