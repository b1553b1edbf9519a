#include <gtest/gtest.h>

#include "messages/pixlink/CGetTaskStatusResponse.h"
#include "messages/pixlink/Utf16Text.h"
#include "tests/messages/ReplyPayload.h"

using namespace MessagesTest;
using Zun::Connectors::Common::TaskLogRecord;
using Zun::Connectors::Common::Pixlink::Messages::CGetTaskStatusResponse;
using Zun::Connectors::Common::Pixlink::Messages::ConvertUtf16ToUtf8;

namespace {

const char* const NotFull = "PixlinkChannelBuffer: Buffer is not full enough";
const char* const BadIds = "Task log: Log record has badly formated uuids in user data";

// Reply header, record header {unused, result, offset}, filler up to the offset, the text as UTF-16LE.
Bytes TaskReply(uint32_t result, const std::u16string& text, bool terminated = true, uint32_t offset = 12) {
    std::string body = Text(Header(0xDEADBEEF, result, offset, ""));
    body.resize(std::max<size_t>(body.size(), offset), '\xEE');
    for (char16_t unit : text) {
        body += {static_cast<char>(unit), static_cast<char>(unit >> 8)};
    }
    return Reply(terminated ? body + std::string("\0\0x\0", 4) : body);
}

std::vector<TaskLogRecord> Records(const Bytes& payload) {
    CGetTaskStatusResponse reply;
    reply.Deserialize(payload);
    return reply.GetTaskLogRecords();
}

std::string Ids(const Bytes& payload) {
    const auto records = Records(payload);
    return records.size() != 1 ? "records: " + std::to_string(records.size())
                               : records[0].FirstId.uuid() + "|" + records[0].SecondId.uuid() + "|" +
                                     records[0].ThirdId.uuid();
}

std::string Failure(const Bytes& payload) {
    return FailureText<std::runtime_error>([&] { Records(payload); });
}

TEST(TaskStatusReplyTest, EmptyBodyHasNoRecord) {
    EXPECT_TRUE(Records(Reply("ignored", 0)).empty());
}

TEST(TaskStatusReplyTest, ResultGivesCodeStateSeverityAndMessage) {
    struct {
        uint32_t result;
        int64_t code;
        uint32_t state, severity;
        const char* message;
    } const cases[] = {{0, 0x10000000ALL, 20, 1, ""},
                       {1, 0x10000000BLL, 30, 1, ""},
                       {2, 0x10000000CLL, 40, 4, "Task failed"},
                       {0xFFFFFFFF, 0x10000000CLL, 40, 4, "Task failed"}};
    for (const auto& c : cases) {
        const auto records = Records(TaskReply(c.result, u"first;second;third"));
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ("first|second|third", records[0].FirstId.uuid() + "|" + records[0].SecondId.uuid() + "|" +
                                            records[0].ThirdId.uuid());
        EXPECT_EQ(c.code, records[0].Code);
        EXPECT_EQ(c.state, records[0].State);
        EXPECT_EQ(c.severity, records[0].Severity);
        EXPECT_EQ(c.message, records[0].Message);
    }
}

TEST(TaskStatusReplyTest, UserDataSplitsIntoExactlyThreePieces) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"a;b;c", "a|b|c"},
        {u"a, c", "a||c"},
        {u"a b,c", "a|b|c"},
        {u";;", "||"},
        {u"\u00e9;\u20ac;\U0001F600", "\xc3\xa9|\xe2\x82\xac|*"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Ids(TaskReply(0, c.first)));
    }
    for (const char16_t* text : {u"", u"a;b", u"a;b;c;d", u"a, b;c", u"a;b;c "}) {
        EXPECT_EQ(BadIds, Failure(TaskReply(0, text)));
    }
}

TEST(TaskStatusReplyTest, TextRunsToTerminatorOrEndAndOffsetCountsFromTheRecord) {
    EXPECT_EQ("a|b|c", Ids(TaskReply(0, u"a;b;c", false)));
    Bytes odd = TaskReply(0, u"a;b;c", false);
    odd.push_back('d');
    EXPECT_EQ("a|b|c", Ids(odd));
    EXPECT_EQ("x|y|z", Ids(TaskReply(1, u"x;y;z", true, 40)));
}

Bytes WithOffset(Bytes payload, uint32_t offset) {
    const Bytes word = Header(offset, 0, 0, "");
    std::copy(word.begin(), word.begin() + 4, payload.begin() + 20);
    return payload;
}

TEST(TaskStatusReplyTest, BrokenRecordsFail) {
    const Bytes complete = TaskReply(0, u"a;b;c", false);
    const uint32_t end = static_cast<uint32_t>(complete.size() - 12);
    EXPECT_EQ(NotFull, Failure(Reply("12345678", 12)));
    EXPECT_EQ(NotFull, Failure(Reply("12345678901", 4)));
    EXPECT_EQ(NotFull, Failure(WithOffset(complete, end + 1)));
    EXPECT_EQ(NotFull, Failure(WithOffset(complete, 0xFFFFFFFF)));
    EXPECT_EQ(BadIds, Failure(WithOffset(complete, end)));
    EXPECT_EQ(BadIds, Failure(WithOffset(complete, end - 1)));
}

TEST(TaskStatusReplyTest, OneRecordPerReplyAndDeserializeAppends) {
    Bytes two = TaskReply(0, u"a;b;c");
    const Bytes second = TaskReply(2, u"d;e;f");
    two.insert(two.end(), second.begin() + 12, second.end());
    CGetTaskStatusResponse reply;
    reply.Deserialize(two);
    EXPECT_EQ(1u, reply.GetTaskLogRecords().size());
    reply.Deserialize(second);
    ASSERT_EQ(2u, reply.GetTaskLogRecords().size());
    EXPECT_EQ("f", reply.GetTaskLogRecords()[1].ThirdId.uuid());
}

TEST(Utf16TextTest, BasicPlaneIsUtf8AndSurrogatesBecomeOneStar) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"A\u007f", "A\x7f"},
        {u"\u0080\u07ff", "\xc2\x80\xdf\xbf"},
        {u"\u0800\uffff", "\xe0\xa0\x80\xef\xbf\xbf"},
        {u"\U0001F600x", "*x"},
        {{0xDE00, u'A', u'B'}, "*B"},
        {{0xD800, 0xD800, u'C'}, "*C"},
        {{u'A', 0xD83D}, "A*"},
    };
    for (const auto& c : cases) {
        const std::vector<uint16_t> units(c.first.begin(), c.first.end());
        EXPECT_EQ(c.second, ConvertUtf16ToUtf8(units.data(), units.size()));
    }
}

}  // namespace
