#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CBroadcastLayout.h"
#include "ipc/CKernel32.h"
#include "ipc/CObjectName.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/DirectImports.h"
#include "tests/ipc/CWriterProcess.h"
#include "tests/ipc/IpcIds.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace IpcTest {
namespace {

using Connectors::Common::Pixlink::CBroadcastLayout;
using Connectors::Common::Pixlink::CPixlinkAlpcClient;
using Connectors::Common::Pixlink::IPixlinkClient;
using Testing::CTemporaryObjectRoot;

constexpr std::uint32_t kDataSize = kBroadcastDataSize;

// The product's writer in a process of its own (broadcast_writer), prepared as the scenario says.
std::unique_ptr<CWriterProcess> StartWriter(const std::vector<std::string>& scenario) {
    return std::unique_ptr<CWriterProcess>(new CWriterProcess(scenario));
}

// Whether another thread can take the area's mutex at once: a read that kept it would keep it
// for its own thread only.
bool MutexIsFree() {
    return std::async(std::launch::async,
                      [] {
                          using Connectors::Common::Pixlink::CObjectName;
                          Platform::WCHAR name[CObjectName::kCapacity];
                          CObjectName::Format(name, "Global\\", kRemoteId, kLocalId, "BroadcastMutex");
                          Platform::HANDLE mutex = Platform::OpenMutexW(Platform::SYNCHRONIZE, 0, name);
                          const bool taken = mutex != nullptr && Platform::WaitForSingleObject(mutex, 0) == 0;
                          if (taken) {
                              Platform::ReleaseMutex(mutex);
                          }
                          if (mutex != nullptr) {
                              Connectors::Common::Pixlink::CKernel32::CloseHandle(mutex);
                          }
                          return taken;
                      })
        .get();
}

class BroadcastTest : public ::testing::Test {
protected:
    void TearDown() override { m_client.Close(); }

    CTemporaryObjectRoot m_root;
    CPixlinkAlpcClient m_client;
    void SetUp() override { ASSERT_EQ(0u, m_client.Init(kLocalId, kRemoteId, 0)); }
};

TEST_F(BroadcastTest, ValuesAreReadFromTheData) {
    auto writer = StartWriter({"values"});
    ASSERT_TRUE(writer->IsReady());
    for (std::uint32_t i = 0; i < 10; ++i) {
        std::uint32_t value = 0;
        ASSERT_EQ(0u, m_client.ReadBroadcastDword(CBroadcastLayout::ValueOffset(i), &value));
        EXPECT_EQ(100 + i, value);
    }
}

TEST_F(BroadcastTest, DwordReadsStayInsideTheData) {
    auto writer = StartWriter({"values"});
    ASSERT_TRUE(writer->IsReady());
    std::uint32_t value = 0;
    EXPECT_EQ(0u, m_client.ReadBroadcastDword(kDataSize - 4, &value));
    EXPECT_EQ(0xFEEDF00Du, value);
    EXPECT_EQ(10u, m_client.ReadBroadcastDword(kDataSize - 3, &value));
    EXPECT_EQ(10u, m_client.ReadBroadcastDword(-1, &value));
}

TEST_F(BroadcastTest, RangeReadsStayInsideTheDataAndReleaseTheMutex) {
    auto writer = StartWriter({"values"});
    ASSERT_TRUE(writer->IsReady());
    std::uint8_t bytes[8] = {};
    EXPECT_EQ(0u, m_client.ReadBroadcast(kDataSize - 8, bytes, 8));
    EXPECT_EQ(0xFEEDF00Du,
              bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<std::uint32_t>(bytes[7]) << 24);
    struct Range {
        std::int64_t offset;
        std::uint64_t size;
        std::uint32_t result;
    };
    // Room for every read below, so that one that wrongly succeeds shows as a result, not a crash.
    std::vector<std::uint8_t> room(2 * kDataSize);
    for (const Range& r :
         {Range{0, kDataSize, 0}, Range{kDataSize, 0, 0}, Range{kDataSize - 7, 8, 1}, Range{-1, 8, 1},
          Range{0, kDataSize + 1, 1}, Range{0, 2 * kDataSize, 1}, Range{kDataSize + 1, 0, 1}}) {
        EXPECT_EQ(r.result, m_client.ReadBroadcast(r.offset, room.data(), r.size))
            << r.offset << "+" << r.size;
    }
    EXPECT_TRUE(MutexIsFree());
}

struct HeaderCase {
    const char* name;
    std::size_t offset;
    std::uint32_t value;
};

class BroadcastHeaderTest : public BroadcastTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(BroadcastHeaderTest, AreaWithABadHeaderIsRefused) {
    const HeaderCase bad = GetParam();
    auto writer = StartWriter({"bad", std::to_string(bad.offset), std::to_string(bad.value)});
    ASSERT_TRUE(writer->IsReady());
    std::uint32_t value = 0;
    std::uint8_t bytes[4];
    EXPECT_EQ(1u, m_client.ReadBroadcastDword(24, &value));
    EXPECT_EQ(1u, m_client.ReadBroadcast(24, bytes, 4));
}

INSTANTIATE_TEST_SUITE_P(Headers, BroadcastHeaderTest,
                         ::testing::Values(HeaderCase{"Version1", 16, 1}, HeaderCase{"HeaderSize", 0, 33},
                                           HeaderCase{"Magic", 8, 0x4c786951},
                                           // Far beyond: Windows maps whole pages.
                                           HeaderCase{"DataBeyondTheArea", 28, 1u << 20}),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

// The header says where the data begins; offsets count from there, and the data ends where it says.
TEST_F(BroadcastTest, DataBeginsWhereTheHeaderSays) {
    constexpr std::uint32_t kMovedOffset = 64;
    auto writer = StartWriter({"moved", std::to_string(kMovedOffset)});
    ASSERT_TRUE(writer->IsReady());
    std::uint32_t value = 0;
    EXPECT_EQ(0u, m_client.ReadBroadcastDword(CBroadcastLayout::ValueOffset(3), &value));
    EXPECT_EQ(203u, value);
    const std::int64_t dataSize = 32 + kDataSize - kMovedOffset;
    EXPECT_EQ(0u, m_client.ReadBroadcastDword(dataSize - 4, &value));
    EXPECT_EQ(10u, m_client.ReadBroadcastDword(dataSize - 3, &value));
}

TEST_F(BroadcastTest, MissingAreaFails) {
    std::uint32_t value = 0;
    EXPECT_EQ(1u, m_client.ReadBroadcastDword(24, &value));
}

TEST_F(BroadcastTest, MutexHeldTooLongFailsTheRead) {
    auto writer = StartWriter({"values", "hold"});
    ASSERT_TRUE(writer->IsReady());
    std::uint8_t bytes[4];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1u, m_client.ReadBroadcast(24, bytes, 4));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5000));
    std::uint32_t value = 0;
    EXPECT_EQ(0u, m_client.ReadBroadcastDword(24, &value)) << "single values need no mutex";
}

TEST_F(BroadcastTest, MutexOfADeadHolderIsTakenOver) {
    auto writer = StartWriter({"values", "hold"});
    ASSERT_TRUE(writer->IsReady());
    // Opened before the product dies: on Windows the named objects go with their last handle.
    std::uint32_t value = 0;
    ASSERT_EQ(0u, m_client.ReadBroadcastDword(24, &value));
    writer->Kill();
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(0u, m_client.ReadBroadcast(24, bytes, 4));
    EXPECT_EQ(100, bytes[0]);
}

class ModuleTableTest : public BroadcastTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ModuleTableTest, EntriesFollowTheAnnouncedTableOffset) {
    const std::uint32_t table = GetParam();
    auto writer = StartWriter({"modules", std::to_string(table)});
    ASSERT_TRUE(writer->IsReady());
    std::uint32_t offset = 0;
    std::uint32_t count = 0;
    ASSERT_EQ(0u, m_client.ReadBroadcastDword(CBroadcastLayout::kModuleTableOffset, &offset));
    ASSERT_EQ(0u, m_client.ReadBroadcastDword(CBroadcastLayout::kModuleCount, &count));
    EXPECT_EQ(table, offset);
    EXPECT_EQ(2u, count);
    EXPECT_EQ(table + 20 + 12,
              CBroadcastLayout::ModuleField(1, CBroadcastLayout::kUserDataTimestamp, offset));
    std::uint32_t id = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t userData = 0;
    ASSERT_EQ(0u, m_client.ReadBroadcastDword(
                      CBroadcastLayout::ModuleField(1, CBroadcastLayout::kModuleId, offset), &id));
    ASSERT_EQ(
        0u, m_client.ReadBroadcastDword(
                CBroadcastLayout::ModuleField(1, CBroadcastLayout::kUserDataTimestamp, offset), &timestamp));
    ASSERT_EQ(0u,
              m_client.ReadBroadcastDword(
                  CBroadcastLayout::ModuleField(1, CBroadcastLayout::kUserDataOffset, offset), &userData));
    EXPECT_EQ(CBroadcastLayout::kServerModuleId, id);
    EXPECT_EQ(42u, timestamp);
    EXPECT_EQ(208u, userData);
}

INSTANTIATE_TEST_SUITE_P(TableOffsets, ModuleTableTest, ::testing::Values(84u, 100u));

TEST_F(BroadcastTest, LpcClientReadsTheSameArea) {
    auto writer = StartWriter({"values"});
    ASSERT_TRUE(writer->IsReady());
    Connectors::Common::Pixlink::CPixlinkClientNt<Platform::ULONG64> client;
    ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, 0));
    std::uint32_t value = 0;
    EXPECT_EQ(0u, client.ReadBroadcastDword(28, &value));
    EXPECT_EQ(101u, value);
    client.Close();
    EXPECT_EQ(0u, client.ReadBroadcastDword(32, &value)) << "a closed area is opened again";
    EXPECT_EQ(102u, value);
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
