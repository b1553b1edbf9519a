#include <gtest/gtest.h>

#include <cstring>

#include "messages/pixlink/CRawPacket.h"

using Zun::Connectors::Common::Pixlink::CBuffer;
using Zun::Connectors::Common::Pixlink::CRawPacket;

namespace {

// Growth takes the larger of 1.5 times the capacity and what is needed, rounded up to 4096.
TEST(CBufferTest, GrowsByHalfRoundedToPages) {
    struct {
        size_t capacity, length, appended, grown;
    } const cases[] = {
        {0, 0, 1, 4096}, {4096, 4096, 1, 8192}, {8192, 8192, 1, 12288}, {4096, 10, 100000, 102400}};
    for (const auto& c : cases) {
        CRawPacket::CAttachableBuffer buffer;
        const std::vector<uint8_t> bytes(c.length + c.appended, 0x5A);
        ASSERT_TRUE(buffer.Reserve(c.capacity));
        ASSERT_EQ(0u, buffer.Append(bytes.data(), c.length));
        ASSERT_EQ(c.length, buffer.Append(bytes.data(), c.appended));
        EXPECT_EQ(c.grown, buffer.GetCapacity()) << c.capacity << "+" << c.appended;
    }
}

TEST(CBufferTest, ItemsAreTagLengthAndValueLittleEndian) {
    CRawPacket packet;
    ASSERT_TRUE(packet.GetBuffer().AppendItem(0x01020304, "ab", 2));
    ASSERT_TRUE(packet.GetBuffer().AppendItem(7, nullptr, 0));
    const std::vector<uint8_t> expected = {4, 3, 2, 1, 2, 0, 0, 0, 'a', 'b', 7, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(expected, packet.GetBytes());
}

TEST(CBufferTest, GrowingMovesDiscardedStartBackAndOverflowFails) {
    CRawPacket::CAttachableBuffer buffer;
    ASSERT_NE(CBuffer::Failed, buffer.Append("0123456789", 10));
    buffer.Discard(4);
    ASSERT_EQ(6u, buffer.Append("ab", 2));
    EXPECT_EQ(0, std::memcmp("456789ab", buffer.GetData(), 8));
    EXPECT_FALSE(buffer.Reserve(CBuffer::Failed));
    EXPECT_EQ(CBuffer::Failed, buffer.Append("y", CBuffer::Failed - 2));
    EXPECT_EQ(8u, buffer.GetLength());
}

// Attached memory belongs to someone else: it is written in place, never grown, never freed (the
// sanitizer build would report a free of this stack array).
TEST(CBufferTest, AttachedBufferStaysInForeignMemory) {
    uint8_t foreign[16] = {};
    CRawPacket::CAttachableBuffer buffer;
    ASSERT_EQ(0u, buffer.Append("owned", 5));
    buffer.Attach(foreign, 2, sizeof foreign);
    EXPECT_TRUE(buffer.IsAttached());
    EXPECT_EQ(2u, buffer.Append("abcd", 4));
    EXPECT_EQ(0, std::memcmp("abcd", foreign + 2, 4));
    EXPECT_EQ(CBuffer::Failed, buffer.Append("0123456789ab", 12));
    EXPECT_FALSE(buffer.AppendItem(1, "0123456789", 10));
    EXPECT_EQ(6u, buffer.GetLength());
}

}  // namespace
