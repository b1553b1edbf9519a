#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "ipc/CNtdll.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "platform/CNtdllSubstitute.h"
#include "platform/CViewRegistry.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/ipc/TestProduct.h"

namespace Zun {
namespace IpcTest {
namespace {

using Connectors::Common::Pixlink::CNtdll;
using Connectors::Common::Pixlink::CPixlinkAlpcClient;
using Connectors::Common::Pixlink::CPixlinkGrowableBuffer;
using Platform::CViewRegistry;

class AlpcClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_product.reset(new CServerProcess([] { CTestProduct(Platform::kPortAlpc).Serve(); }));
        ASSERT_TRUE(m_product->IsReady());
        ASSERT_EQ(0u, m_client.Init(kLocalId, kRemoteId, 0));
        m_views = CViewRegistry::Count();
    }
    void TearDown() override {
        m_client.Close();
        EXPECT_EQ(m_views, CViewRegistry::Count()) << "every section view is unmapped again";
    }

    std::vector<std::uint32_t> Report(const std::vector<std::uint8_t>& request,
                                      std::uint32_t command = kReport) {
        std::vector<std::uint8_t> reply(4 * kReportFields);
        std::uint64_t length = 0;
        EXPECT_EQ(0u, m_client.Request(0, command, request.data(), request.size(), reply.data(), reply.size(),
                                       &length, 0));
        std::vector<std::uint32_t> fields(kReportFields);
        std::memcpy(fields.data(), reply.data(), std::min<std::size_t>(length, reply.size()));
        return fields;
    }

    CTemporaryObjectRoot m_root;
    std::unique_ptr<CServerProcess> m_product;
    CPixlinkAlpcClient m_client;
    std::size_t m_views = 0;
};

class AlpcRequestTest : public AlpcClientTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(AlpcRequestTest, RequestTravelsInlineUpToTheLimitAndInASectionBeyond) {
    const std::vector<std::uint8_t> request = Pattern(GetParam());
    const std::vector<std::uint32_t> report = Report(request);
    const bool inlined = request.size() <= 65479;
    EXPECT_EQ(16 + (inlined ? request.size() : 0), report[kDataLength]);
    EXPECT_EQ(inlined ? 0u : request.size(), report[kViewSize]);
    EXPECT_EQ(inlined ? 0u : 0x60000u, report[kViewFlags]);
    EXPECT_EQ(4 * kReportFields, report[kCapacityField]);
    EXPECT_EQ(0u, report[kField44]);
    EXPECT_EQ(request.size(), report[kRequestLength]);
    EXPECT_EQ(Checksum(request.data(), request.size()), report[kRequestChecksum]);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, AlpcRequestTest, ::testing::Values(0u, 65479u, 65480u, 1000000u));

class AlpcReplyTest : public AlpcClientTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(AlpcReplyTest, ReplyArrivesInlineUpToTheLimitAndInAViewBeyond) {
    const std::uint32_t size = GetParam();
    const std::vector<std::uint8_t> request = Words({size});
    std::vector<std::uint8_t> reply(size + 1, 0xAA);
    std::uint64_t length = 0;
    ASSERT_EQ(0u, m_client.Request(0, kSized, request.data(), 4, reply.data(), size, &length, 0));
    EXPECT_EQ(size, length);
    EXPECT_TRUE(std::equal(reply.begin(), reply.begin() + size, Pattern(size).begin()));
    EXPECT_EQ(0xAA, reply[size]);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, AlpcReplyTest, ::testing::Values(0u, 1u, 65487u, 65488u, 300000u));

TEST_F(AlpcClientTest, ReplyThatDoesNotFitNeedsAGrowableBuffer) {
    for (std::uint32_t size : {1000u, 70000u}) {
        const std::vector<std::uint8_t> request = Words({size});
        std::vector<std::uint8_t> reply(size - 1);
        std::uint64_t length = 77;
        EXPECT_EQ(6u, m_client.Request(0, kSized, request.data(), 4, reply.data(), reply.size(), &length, 0));
        EXPECT_EQ(77u, length);
        CPixlinkGrowableBuffer buffer;
        ASSERT_EQ(0u, m_client.RequestToBuffer(0, kSized, request.data(), 4, &buffer, 0));
        ASSERT_EQ(size, buffer.Length());
        EXPECT_EQ(0, std::memcmp(buffer.Data(), Pattern(size).data(), size));
    }
}

TEST_F(AlpcClientTest, RequestToBufferTellsTheProductThatAnySizeWillDo) {
    CPixlinkGrowableBuffer buffer;
    ASSERT_EQ(0u, m_client.RequestToBuffer(0, kReport, nullptr, 0, &buffer, 0));
    std::vector<std::uint32_t> report(kReportFields);
    ASSERT_EQ(report.size() * 4, buffer.Length());
    std::memcpy(report.data(), buffer.Data(), buffer.Length());
    EXPECT_EQ(1u, report[kField44]);
    EXPECT_EQ(0u, report[kCapacityField]);
}

TEST_F(AlpcClientTest, EmptyReplyNeedsNoBuffer) {
    const std::vector<std::uint8_t> request = Words({0});
    EXPECT_EQ(0u, m_client.Request(0, kSized, request.data(), 4, nullptr, 0, nullptr, 0));
}

TEST_F(AlpcClientTest, ProductResultWordIsReturned) {
    const std::vector<std::uint8_t> request = Words({0xC0DE});
    EXPECT_EQ(0xC0DEu, m_client.Request(0, kResultWord, request.data(), 4, nullptr, 0, nullptr, 0));
}

TEST_F(AlpcClientTest, TimeOutGivesNineAndTheLateReplyIsNotTakenForTheNext) {
    EXPECT_EQ(9u, m_client.Request(0, kDeferred, nullptr, 0, nullptr, 0, nullptr, -200 * 10000LL));
    const std::vector<std::uint8_t> request = Pattern(8, 0x42);
    std::vector<std::uint8_t> reply(8);
    std::uint64_t length = 0;
    ASSERT_EQ(0u, m_client.Request(0, kEcho, request.data(), 8, reply.data(), 8, &length, -5000 * 10000LL));
    EXPECT_EQ(request, reply);
}

TEST_F(AlpcClientTest, FailedExchangeReconnectsOnce) {
    EXPECT_EQ(2u, Report({}, kDropFirst)[kAcceptedConnections]);
    EXPECT_EQ(1u, m_client.Request(0, kDropAlways, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(4u, Report({})[kAcceptedConnections]);
}

TEST_F(AlpcClientTest, WorkerThreadFlagIsRefused) {
    EXPECT_EQ(10u, m_client.Init(kLocalId, kRemoteId, 2));
}

TEST_F(AlpcClientTest, OneWayMessageIsDelivered) {
    const std::vector<std::uint8_t> request = Pattern(70000);
    EXPECT_EQ(0u, m_client.Request(1, kReport, request.data(), request.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, Report({})[kDatagrams]);
}

TEST_F(AlpcClientTest, SectionFailureFailsTheRequestAfterOneRetry) {
    static std::atomic<int> calls{0};
    CSlotOverride<Platform::NtAlpcCreatePortSectionFn> failing(
        CNtdll::Table(), CNtdll::NtAlpcCreatePortSection,
        [](Platform::HANDLE, Platform::ULONG, Platform::HANDLE, Platform::SIZE_T, Platform::ALPC_HANDLE*,
           Platform::SIZE_T*) -> Platform::NTSTATUS {
            ++calls;
            return Platform::STATUS_NO_MEMORY;
        });
    const std::vector<std::uint8_t> request = Pattern(65480);
    EXPECT_EQ(1u, m_client.Request(0, kReport, request.data(), request.size(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(2, calls);
}

TEST_F(AlpcClientTest, MalformedRepliesFail) {
    for (std::uint32_t which : {kShortMessage, kLyingLength, kViewTooSmall, kLargeWithoutView,
                                kViewWithoutFlag, kInconsistentHeader}) {
        const std::vector<std::uint8_t> request = Words({which});
        std::vector<std::uint8_t> reply(80000);
        EXPECT_EQ(1u,
                  m_client.Request(0, kMalformed, request.data(), 4, reply.data(), reply.size(), nullptr, 0))
            << "malformed reply " << which;
    }
}

TEST(AlpcClientWithoutProductTest, MissingPortFails) {
    CTemporaryObjectRoot root;
    CPixlinkAlpcClient client;
    ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, 0));
    EXPECT_EQ(1u, client.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    client.Close();
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
