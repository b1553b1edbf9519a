#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <functional>
#include <string>
#include <vector>

#include "logs/CSymbolContainer.h"
#include "logs/CUtf8Cut.h"

using namespace Zun::Common::Logs;
using Zun::Common::DataDefinition::Common::MultiDataType;
using Zun::Common::DataDefinition::Common::UTCTime;

namespace {

const std::string kUuidText = "0123abcd-4567-89ef-0123-456789abcdef";

UTCTime Time(int year, int month, int day, int hour, int minute, int second) {
    UTCTime time;
    time.set_year(year);
    time.set_month(month);
    time.set_day(day);
    time.set_hour(hour);
    time.set_minute(minute);
    time.set_second(second);
    return time;
}

std::vector<int32_t> Ids(const CSymbolContainer& c) {
    std::vector<int32_t> ids;
    for (size_t i = 0; i < c.GetCount(); ++i) {
        ids.push_back(c.GetSymbolIdAt(i));
    }
    return ids;
}

std::string ThrownText(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// A rejected call must name the symbol exactly and leave the container as it was.
struct ErrorCase {
    const char* name;
    bool locked;
    std::function<void(CSymbolContainer&)> call;
    std::string message;
};

class ErrorTextTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorTextTest, ThrowsExactTextAndKeepsContent) {
    CSymbolContainer c;
    c.AddInt(1, 5).AddString(2, "x");
    if (GetParam().locked) {
        c.Lock();
    }
    const std::string before = c.GetProtobuf()->SerializeAsString();
    EXPECT_EQ(GetParam().message, ThrownText([&c] { GetParam().call(c); }));
    EXPECT_EQ(before, c.GetProtobuf()->SerializeAsString());
}

const char kLocked1[] = "Cannot add symbol 1: container is locked";
const char kIncomplete[] = "Symbol 7 value is not fully initialized";

INSTANTIATE_TEST_SUITE_P(
    All, ErrorTextTest,
    testing::Values(
        ErrorCase{"Missing", false, [](CSymbolContainer& c) { c.GetSymbol(-7); },
                  "Cannot find symbol -7 in symbol container"},
        ErrorCase{"WrongType", false, [](CSymbolContainer& c) { c.GetBlob(2); },
                  "The symbol 2 exists but is not of requested type"},
        ErrorCase{"DuplicateEmptySymbol", false, [](CSymbolContainer& c) { c.AddSymbol(2, MultiDataType()); },
                  "Symbol 2 is already in container"},
        ErrorCase{"SetOtherType", false, [](CSymbolContainer& c) { c.SetInt(2, 1); },
                  "Cannot set the symbol 2 because it exists but is not of same type as before"},
        ErrorCase{"TimeIncomplete", false, [](CSymbolContainer& c) { c.AddTimeDate(7, UTCTime()); },
                  kIncomplete},
        ErrorCase{"BadUuidText", false, [](CSymbolContainer& c) { c.AddUuid(7, "0123-nope"); },
                  "invalid uuid string"},
        ErrorCase{"LockedBeforeDuplicate", true, [](CSymbolContainer& c) { c.AddInt(1, 1); }, kLocked1},
        ErrorCase{"LockedSet", true, [](CSymbolContainer& c) { c.SetInt(1, 9); }, kLocked1},
        ErrorCase{"LockedSetSymbolKeepsOld", true,
                  [](CSymbolContainer& c) { c.SetSymbol(1, MultiDataType()); }, kLocked1},
        ErrorCase{"ConversionBeforeLock", true, [](CSymbolContainer& c) { c.SetTimeDate(7, UTCTime()); },
                  kIncomplete},
        ErrorCase{"LockedDeserialize", true, [](CSymbolContainer& c) { c.Deserialize(""); },
                  "Failed to deserialize symbols: container is locked"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// Expected result, or the error text when the cut must fail.
struct CutCase {
    std::string text;
    int limit;
    std::string expected;
};

class Utf8CutTest : public testing::TestWithParam<CutCase> {};

TEST_P(Utf8CutTest, KeepsWholeCharactersBeforeEllipsis) {
    std::string result;
    const std::string error =
        ThrownText([&result] { result = CUtf8Cut::Cut(GetParam().text, GetParam().limit); });
    EXPECT_EQ(GetParam().expected, result.empty() ? error : result);
}

const std::string kE = "\xC3\xA9";  // a two-byte character
const std::string k6 = "\xFC\x80\x80\x80\x80\x80";
const std::string a70(70, 'a');

INSTANTIATE_TEST_SUITE_P(
    All, Utf8CutTest,
    testing::Values(CutCase{std::string(65, 'a'), 64, std::string(61, 'a') + "..."},
                    CutCase{std::string(64, 'a'), 64, std::string(64, 'a')},
                    CutCase{std::string(60, 'a') + kE + "bbb", 64, std::string(60, 'a') + "..."},
                    CutCase{std::string(59, 'a') + kE + "bbbb", 64, std::string(59, 'a') + kE + "..."},
                    CutCase{k6 + a70, 64, k6 + std::string(55, 'a') + "..."},
                    CutCase{std::string(63, 'a') + "\xFF\x80", 64, std::string(61, 'a') + "..."},
                    CutCase{"\x80" + std::string(9, 'a'), 64, "\x80" + std::string(9, 'a')},
                    CutCase{a70, 0, a70}, CutCase{"abcdef", 2, "a..."}, CutCase{kE + "abc", 2, "..."},
                    CutCase{"abcdef", 1, "..."}, CutCase{"\x80" + a70, 64, "Invalid utf8 leading byte"},
                    CutCase{"\xFE" + a70, 64, "Utf8 character cannot have more than 6 characters"}));

TEST(SymbolContainerTest, AddStringUsesCatalogueLimitButSetStringDoesNot) {
    const std::string text(2000, 'x');
    CSymbolContainer c;
    c.AddString(4307, text).AddString(241, text).AddString(99999, text);
    c.SetString(4309, text);
    EXPECT_EQ(std::string(61, 'x') + "...", c.GetString(4307));
    EXPECT_EQ(text, c.GetString(241));
    EXPECT_EQ(text, c.GetString(99999));
    EXPECT_EQ(text, c.GetString(4309));
}

TEST(SymbolContainerTest, AddSymbolTakesFirstElementOfFirstFilledField) {
    MultiDataType value;
    value.add_val_string("first");
    value.add_val_string("second");
    value.add_val_bool(true);
    CSymbolContainer c;
    c.AddSymbol(1, value).AddSymbol(2, MultiDataType());
    value.clear_val_bool();
    c.AddSymbol(3, value);
    EXPECT_TRUE(c.GetBool(1));
    EXPECT_EQ("first", c.GetString(3));
    EXPECT_EQ(std::vector<int32_t>({1, 3}), Ids(c));
}

TEST(SymbolContainerTest, SetReplacesInPlaceAndSetSymbolMovesToEnd) {
    CSymbolContainer c;
    c.AddInt(1, 1).AddInt(2, 2).AddInt(3, 3);
    c.SetInt(1, 10).SetResId(4, 40);
    EXPECT_EQ(std::vector<int32_t>({1, 2, 3, 4}), Ids(c));
    EXPECT_EQ(10, c.GetInt(1));
    c.SetSymbol(1, c.GetSymbol(3)).SetSymbol(2, MultiDataType()).RemoveSymbol(42);
    EXPECT_EQ(std::vector<int32_t>({3, 4, 1}), Ids(c));
    EXPECT_EQ(3, c.GetInt(1));
}

TEST(SymbolContainerTest, EqualsIgnoresOrderAndLockButNotTypeOrValue) {
    CSymbolContainer a, b, otherType, otherValue;
    a.AddInt(1, 1).AddString(2, "x");
    b.AddString(2, "x").AddInt(1, 1).Lock();
    otherType.AddInt(1, 1).AddBlob(2, "x");
    otherValue.AddInt(1, 2).AddString(2, "x");
    EXPECT_TRUE(a.Equals(b));
    EXPECT_FALSE(a.Equals(otherType));
    EXPECT_FALSE(a.Equals(otherValue));
    b.RemoveSymbol(1);  // allowed while locked
    EXPECT_FALSE(a.Equals(b));
    boost::shared_ptr<ISymbolContainer> copy = b.Clone();
    copy->AddInt(1, 1);  // a clone is unlocked
    EXPECT_TRUE(a.Equals(*copy));
}

TEST(SymbolContainerTest, ProtobufRoundTripOfEveryType) {
    CSymbolContainer c;
    c.AddBlob(1, std::string("\0\xFF", 2)).AddInt(2, -3).AddDouble(3, 0.25).AddString(4, "text");
    c.AddResId(5, 1LL << 40).AddTimeDate(6, Time(2021, 6, 30, 12, 0, 1)).AddBool(8, true);
    c.AddUuid(7, "{0123ABCD-4567-89EF-0123-456789ABCDEF}").AddInt32(9, -1).AddInt(10, (1LL << 32) + 2);
    std::string bytes;
    ASSERT_TRUE(c.Serialize(bytes));
    EXPECT_EQ(static_cast<int>(bytes.size()), c.GetSerializedSize());
    CSymbolContainer back;
    EXPECT_TRUE(back.Deserialize(bytes));
    EXPECT_TRUE(back.Equals(c));
    EXPECT_EQ(Ids(c), Ids(back));
    EXPECT_EQ(kUuidText, back.GetUuid(7).uuid());
    EXPECT_EQ(-1, back.GetInt(9));
    EXPECT_EQ(2, back.GetInt32(10));
    EXPECT_EQ(Time(2021, 6, 30, 12, 0, 1).DebugString(), back.GetTimeDate(6).DebugString());
    EXPECT_FALSE(CSymbolContainer().Serialize(bytes));
    EXPECT_TRUE(bytes.empty());
}

TEST(SymbolContainerTest, DeserializeStopsAtDuplicateKeepingFirst) {
    Zun::Common::DataDefinition::Logs::LogSymbolContainer message;
    for (int value : {1, 2}) {
        auto* symbol = message.add_symbols();
        symbol->set_symbol_type(5);
        symbol->mutable_symbol_data()->add_val_int(value);
    }
    CSymbolContainer c;
    EXPECT_EQ("Symbol 5 is already in container",
              ThrownText([&] { c.Deserialize(message.SerializeAsString()); }));
    EXPECT_EQ(1, c.GetInt(5));
    EXPECT_FALSE(c.Deserialize("\xFF\xFF\xFF"));

    // A message cut short fails, and keeps the symbols read before the cut.
    CSymbolContainer whole;
    whole.AddInt32(1, 7).AddString(2, "two");
    std::string bytes;
    ASSERT_TRUE(whole.Serialize(bytes));
    CSymbolContainer cut;
    EXPECT_FALSE(cut.Deserialize(bytes + bytes.substr(0, 3)));
    EXPECT_EQ(7, cut.GetInt(1));
    EXPECT_EQ("two", cut.GetString(2));
}

struct TimeCase {
    UTCTime in;
    std::string expected;  // the converted time, or the date library's error
};

class TimeConversionTest : public testing::TestWithParam<TimeCase> {};

TEST_P(TimeConversionTest, CarriesTimeOfDayAndChecksDate) {
    CSymbolContainer c;
    const std::string error = ThrownText([&c] { c.AddTimeDate(1, GetParam().in); });
    EXPECT_EQ(GetParam().expected, c.HasSymbol(1) ? c.GetTimeDate(1).DebugString() : error);
}

INSTANTIATE_TEST_SUITE_P(
    All, TimeConversionTest,
    testing::Values(TimeCase{Time(2020, 2, 28, 47, 59, 60), Time(2020, 3, 1, 0, 0, 0).DebugString()},
                    TimeCase{Time(2020, 3, 1, 1, -1, 0), Time(2020, 2, 29, 22, 59, 0).DebugString()},
                    TimeCase{Time(65536 + 2021, 1, 1, 0, 0, 0), "Year is out of valid range: 1400..9999"},
                    TimeCase{Time(2021, 1, 65536 + 1, 0, 0, 0), "Day of month value is out of range 1..31"},
                    // Carries past the ends of the calendar would leave a value that cannot be serialized.
                    TimeCase{Time(9999, 12, 31, 23, 59, 59), Time(9999, 12, 31, 23, 59, 59).DebugString()},
                    TimeCase{Time(9999, 12, 31, 24, 0, 0), "Year is out of valid range: 1400..9999"},
                    TimeCase{Time(1400, 1, 1, 0, 0, -1), "Year is out of valid range: 1400..9999"},
                    TimeCase{Time(1400, 1, 1, 0, 0, 0), Time(1400, 1, 1, 0, 0, 0).DebugString()}));

// The suite runs in a zone hours away from UTC (see tests/CMakeLists.txt).
TEST(SymbolContainerTest, CurrentTimeIsUniversalTime) {
    namespace pt = boost::posix_time;
    CSymbolContainer c;
    const pt::ptime before = pt::second_clock::universal_time();
    c.AddCurrentTime(1);
    const pt::ptime after = pt::second_clock::universal_time();
    const UTCTime t = c.GetTimeDate(1);
    const pt::ptime stored(boost::gregorian::date(t.year(), t.month(), t.day()),
                           pt::hours(t.hour()) + pt::minutes(t.minute()) + pt::seconds(t.second()));
    EXPECT_LE(before, stored);
    EXPECT_LE(stored, after);
}

}  // namespace
