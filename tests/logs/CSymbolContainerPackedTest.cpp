#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "logs/CSymbolContainer.h"

using namespace Zun::Common::Logs;
using boost::posix_time::ptime;

namespace {

// Builds packed input field by field, independently of the container's writer.
class Packed {
public:
    Packed& I32(int64_t v) { return Le(static_cast<uint64_t>(v), 4); }
    Packed& I64(int64_t v) { return Le(static_cast<uint64_t>(v), 8); }
    Packed& Raw(const std::string& bytes) {
        m_bytes += bytes;
        return *this;
    }
    Packed& Text(const std::string& bytes) { return I32(bytes.size()).Raw(bytes); }
    operator std::string() const { return m_bytes; }

private:
    Packed& Le(uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            m_bytes += static_cast<char>(v >> (8 * i));
        }
        return *this;
    }
    std::string m_bytes;
};

int64_t Ticks(const ptime& t) {
    return int64_t(t.date().day_number()) * 86400000000LL + t.time_of_day().total_microseconds();
}

std::string ThrownText(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

const ptime kLeapDay(boost::gregorian::date(2020, 2, 29), boost::posix_time::time_duration(23, 59, 59));
const std::string kUuidBytes = "\x01\x23\xab\xcd\x45\x67\x89\xef\x01\x23\x45\x67\x89\xab\xcd\xef";

std::string EveryTypePacked() {
    Packed p;
    p.I32(8).I32(1).I32(2).I32(3).I32(-4).I32(5).I32(6).I32(7).I32(8);
    p.I32(8).Text(std::string("\0\xFF", 2)).I32(1).I64(-2).I32(2).I64(0x3FD0000000000000);
    p.I32(3).Text("text").I32(4).I64(1LL << 40).I32(6).I64(Ticks(kLeapDay));
    p.I32(5).Raw(kUuidBytes).I32(7).Raw("\x01");
    return p;
}

TEST(SymbolContainerPackedTest, WritesEveryTypeInTheDocumentedLayout) {
    CSymbolContainer c;
    c.AddBlob(1, std::string("\0\xFF", 2)).AddInt(2, -2).AddDouble(3, 0.25).AddString(-4, "text");
    c.AddResId(5, 1LL << 40).AddTimeDate(6, CSymbolContainer::ToUTCTime(kLeapDay));
    c.AddUuid(7, "0123abcd-4567-89ef-0123-456789abcdef").AddBool(8, true);
    const std::string expected = EveryTypePacked();
    ASSERT_EQ(expected.size(), c.GetPackedSize());
    EXPECT_EQ(expected, c.SerializePacked(c.GetPackedSize()));
    CSymbolContainer back;
    back.DeserializePacked(expected);
    EXPECT_TRUE(back.Equals(c));
    EXPECT_EQ(expected, back.SerializePacked(back.GetPackedSize()));
}

TEST(SymbolContainerPackedTest, EmptyContainerAndPadding) {
    CSymbolContainer c;
    EXPECT_EQ(4u, c.GetPackedSize());
    EXPECT_EQ(std::string(4, '\0'), c.SerializePacked(4));
    EXPECT_EQ(std::string(7, '\0'), c.SerializePacked(7));
    c.AddBool(1, false);
    EXPECT_EQ("Packed symbols: size is too small for the content",
              ThrownText([&c] { c.SerializePacked(c.GetPackedSize() - 1); }));
}

TEST(SymbolContainerPackedTest, TimeKeepsMicrosecondsUntilConverted) {
    const int64_t ticks = Ticks(kLeapDay + boost::posix_time::milliseconds(750));
    const std::string packed = Packed().I32(1).I32(9).I32(6).I64(ticks);
    CSymbolContainer c;
    c.DeserializePacked(packed);
    const CSymbolContainer::UTCTime t = c.GetTimeDate(9);
    EXPECT_EQ(std::vector<int>({2020, 2, 29, 23, 59, 59}),
              std::vector<int>({t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second()}));
    EXPECT_EQ(packed, c.SerializePacked(c.GetPackedSize()));
    boost::shared_ptr<ISymbolContainer> clone = c.Clone();
    EXPECT_FALSE(clone->Equals(c));
    EXPECT_EQ(std::string(Packed().I32(1).I32(9).I32(6).I64(Ticks(kLeapDay))),
              clone->SerializePacked(clone->GetPackedSize()));
}

TEST(SymbolContainerPackedTest, SpecialTimePointsSurviveButHaveNoCalendarDate) {
    for (uint64_t ticks : {0x7FFFFFFFFFFFFFFEull, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull}) {
        const std::string packed = Packed().I32(1).I32(9).I32(6).I64(static_cast<int64_t>(ticks));
        CSymbolContainer c;
        c.DeserializePacked(packed);
        EXPECT_EQ(packed, c.SerializePacked(c.GetPackedSize()));
        EXPECT_EQ("Year is out of valid range: 1400..9999", ThrownText([&c] { c.GetTimeDate(9); }));
    }
}

TEST(SymbolContainerPackedTest, ReadsThroughTheTypedAdds) {
    CSymbolContainer c;
    c.DeserializePacked(
        Packed().I32(2).I32(4307).I32(1).I32(3).Text(std::string(100, 'x')).I32(7).Raw("\x02"));
    EXPECT_EQ(std::string(61, 'x') + "...", c.GetString(4307));
    EXPECT_FALSE(c.GetBool(1));
}

struct HostileCase {
    const char* name;
    std::string bytes;
    std::string message;
    size_t kept;  // symbols added before the failure
};

class PackedHostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(PackedHostileTest, RejectsWithClearErrorKeepingEarlierSymbols) {
    CSymbolContainer c;
    EXPECT_EQ(GetParam().message, ThrownText([&c] { c.DeserializePacked(GetParam().bytes); }));
    EXPECT_EQ(GetParam().kept, c.GetCount());
}

const char kTruncated[] = "Packed symbols: input is truncated";
const char kNegative[] = "Packed symbols: negative count or length";
const char kOutside[] = "Packed symbols: time point is outside the calendar";
const int64_t kEndTicks = Ticks(ptime(boost::gregorian::date(9999, 12, 31))) + 86400000000LL;

INSTANTIATE_TEST_SUITE_P(
    All, PackedHostileTest,
    testing::Values(
        HostileCase{"NegativeCount", Packed().I32(-1), kNegative, 0},
        HostileCase{"HugeCount", Packed().I32(0x7FFFFFFF).I32(1), kTruncated, 0},
        HostileCase{"NegativeLength", Packed().I32(1).I32(5).I32(8).I32(-4), kNegative, 0},
        HostileCase{"HugeLength", Packed().I32(1).I32(5).I32(3).I32(0x7FFFFFFF).Raw("ab"), kTruncated, 0},
        HostileCase{"UnknownTag", Packed().I32(2).I32(5).I32(6).I32(1).I64(1).I32(9).I64(0),
                    "Unimplemented type handler", 1},
        HostileCase{"TicksZero", Packed().I32(1).I32(5).I32(6).I64(0), kOutside, 0},
        HostileCase{"TicksAfter9999", Packed().I32(1).I32(5).I32(6).I64(kEndTicks), kOutside, 0},
        HostileCase{"DuplicateId",
                    Packed().I32(2).I32(5).I32(5).I32(7).Raw("\x01").I32(7).Raw(std::string(1, '\0')),
                    "Symbol 5 is already in container", 1},
        HostileCase{"BadUtf8", Packed().I32(1).I32(4307).I32(3).Text("\x80" + std::string(70, 'a')),
                    "Invalid utf8 leading byte", 0}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

TEST(SymbolContainerPackedTest, EveryTruncationOfValidInputIsRejected) {
    const std::string valid = EveryTypePacked();
    for (size_t length = 0; length < valid.size(); ++length) {
        // An exact-size heap copy lets a sanitizer see any read past the end.
        const std::vector<char> prefix(valid.begin(), valid.begin() + length);
        CSymbolContainer c;
        EXPECT_EQ(kTruncated, ThrownText([&] { c.DeserializePacked(prefix.data(), prefix.size()); }))
            << length;
    }
}

TEST(SymbolContainerPackedTest, MutatedInputNeverCrashes) {
    const std::string valid = EveryTypePacked();
    std::mt19937 random(11);
    for (int round = 0; round < 5000; ++round) {
        std::string bytes = valid.substr(0, random() % (valid.size() + 1));
        for (int flips = random() % 4; flips > 0 && !bytes.empty(); --flips) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        CSymbolContainer c;
        ThrownText([&] { c.DeserializePacked(bytes); });
    }
}

}  // namespace
