#include <gtest/gtest.h>

#include <random>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "bus/CQUILRequest.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "messages/Base64.h"
#include "tasks/CConfirmEncryptionRecoveryDataTask.h"
#include "tasks/CGetEncryptionRecoveryDataTask.h"
#include "tasks/CRecoveryDescrambler.h"
#include "tests/tasks/TaskFakes.h"

using namespace TasksTest;
using namespace Zun::Connectors::Common::Tasks;
using namespace Zun::Common::Message::Connectors::QUILConnector;

namespace {

std::string RandomBytes(size_t n) {
    std::mt19937 random(static_cast<uint32_t>(n));
    std::string bytes(n, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random() % 4 == 0 ? 0 : random());
    }
    return bytes;
}

// Recovery material as the product sends it: scrambled, then Base64.
std::string AsSent(const std::string& secret) {
    return EncodeBase64(CRecoveryDescrambler::Descramble(secret));
}

std::string RecoveryReply(const std::string& items) {
    return "<VELM><MESSAGE><RESPONSE>" + items + "</RESPONSE></MESSAGE></VELM>";
}

}  // namespace

// The product scrambles with the same keys: a changed key byte must show here, not only in a
// product stand-in that shares the class.
TEST(RecoveryDescrambler, KnownAnswer) {
    std::string zeros(40, '\0');
    std::string hex;
    for (unsigned char c : CRecoveryDescrambler::Descramble(zeros)) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    EXPECT_EQ("a9848b0c0c0f3fe6b7a83eec91e115c2d5545e2bae0ecf66df5a0c3173be890a1391573ef8e44a81", hex);
}

TEST(RecoveryDescrambler, IsItsOwnInverseAndEachKeyStartsAtTheLengthModuloItsLength) {
    for (size_t n : {0, 1, 31, 4096, 100003}) {
        const std::string input = RandomBytes(n);
        const std::string scrambled = CRecoveryDescrambler::Descramble(input);
        EXPECT_EQ(n == 0, input == scrambled) << n;
        EXPECT_EQ(input, CRecoveryDescrambler::Descramble(scrambled)) << n;
    }
    const auto& keys = CRecoveryDescrambler::KeyTables();
    std::vector<uint32_t> lengths;
    for (const auto& key : keys) {
        lengths.push_back(key.length);
    }
    ASSERT_EQ((std::vector<uint32_t>{31, 29, 23, 17, 13, 11}), lengths);
    // A 31-byte input starts the 31-byte key at 0 and the 29-byte key at 2.
    EXPECT_EQ(keys[0].bytes[0] ^ keys[1].bytes[2] ^ keys[2].bytes[8] ^ keys[3].bytes[14] ^ keys[4].bytes[5] ^
                  keys[5].bytes[9],
              static_cast<uint8_t>(CRecoveryDescrambler::Descramble(std::string(31, '\0'))[0]));
    for (size_t n = 1; n <= 62; ++n) {
        const std::string out = CRecoveryDescrambler::Descramble(std::string(n, '\x5A'));
        for (size_t i = 0; i < n; ++i) {
            uint8_t expected = 0x5A;
            for (const auto& key : keys) {
                expected ^= key.bytes[(n + i) % key.length];
            }
            ASSERT_EQ(expected, static_cast<uint8_t>(out[i])) << "length " << n << " byte " << i;
        }
    }
}

TEST(RecoveryTasks, MaterialIsDecodedUnscrambledAndPublishedInDocumentOrder) {
    const std::string password1 = "123456-654321-111111";
    const std::string password2("pw\0with zero", 12);
    const std::string data = RandomBytes(300);
    CFakeModule m;
    m.channel->Answer(Reply(RecoveryReply(
        "<RECOVERY_PASSWORD UID=\"p-1\" DEVICEID=\"disk0\" INDEX=\"1\">" + AsSent(password1) +
        "</RECOVERY_PASSWORD><OTHER/><RECOVERY_DATA UID=\"d-1\" DEVICEID=\"disk0\">" + AsSent(data) +
        "</RECOVERY_DATA><RECOVERY_PASSWORD UID=\"p-2\" DEVICEID=\"disk1\" INDEX=\"2\">" + AsSent(password2) +
        "</RECOVERY_PASSWORD>")));
    CGetEncryptionRecoveryDataTask task(m.channel, m.logger, m.factory, m.publisher);
    task.Execute(boost::make_shared<CQUILRequest>(3));

    const auto request = m.publisher->At<CQUILProcessRecoveryDataRequest>(0, 728);
    std::vector<std::vector<std::string>> entries;
    for (const auto& p : request->GetFDERecoveryData().recovery_passwords()) {
        entries.push_back({p.internalid(), p.deviceid(), p.index(), p.recovery_password()});
    }
    for (const auto& d : request->GetFDERecoveryData().recovery_data_blocks()) {
        entries.push_back({d.internalid(), d.deviceid(), d.recovery_data()});
    }
    EXPECT_EQ(
        (std::vector<std::vector<std::string>>{
            {"p-1", "disk0", "1", password1}, {"p-2", "disk1", "2", password2}, {"d-1", "disk0", data}}),
        entries);

    // Bad Base64 publishes nothing, and neither the log nor the failure quotes the secret.
    m.channel->Answer(
        Reply(RecoveryReply("<RECOVERY_DATA UID=\"d\" DEVICEID=\"x\">c2VjcmV0*</RECOVERY_DATA>")));
    EXPECT_EQ("retry: DecodeBase64: decode_base64 failed to decode data",
              Outcome([&] { task.Execute(boost::make_shared<CQUILRequest>(3)); }));
    EXPECT_EQ(1u, m.publisher->published.size());
    EXPECT_EQ((std::vector<std::pair<int, std::string>>(
                  2, {0, "Encryption recovery data deserialized and ready for processing"})),
              m.logger->lines);

    // A reply without material still answers the server's question: with an empty request.
    m.channel->Answer(Reply(RecoveryReply("")));
    task.Execute(boost::make_shared<CQUILRequest>(3));
    ASSERT_EQ(2u, m.publisher->published.size());
    const auto& none = m.publisher->At<CQUILProcessRecoveryDataRequest>(1, 728)->GetFDERecoveryData();
    EXPECT_EQ(0, none.recovery_passwords_size() + none.recovery_data_blocks_size());
}

TEST(RecoveryTasks, ConfirmationNamesOnlyItemsWithTheProductsIdentifier) {
    const std::string opening =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><VELM><MESSAGE VERSION=\"1\">"
        "<REQUEST FUNCTION=\"CONFIRM_ENCRYPTION_RECOVERY_DATA\">";
    CFakeModule m;
    m.channel->SetBufferReceiver(
        boost::make_shared<CGetEncryptionRecoveryDataTask::BufferReceiver>(m.logger, m.publisher, m.factory));
    m.channel->Answer(Reply(""));
    m.channel->Answer(Reply(""));
    const auto answer = boost::make_shared<CQUILProcessRecoveryDataResponse>();
    auto& items = answer->MutableFDERecoveryData();
    items.add_recovery_passwords()->set_deviceid("no id");
    items.add_recovery_data_blocks()->set_recovery_data("no id");
    CConfirmEncryptionRecoveryDataTask task(m.channel, m.logger, m.factory, m.publisher);
    EXPECT_EQ(729, task.GetMessageType());
    task.Execute(answer);
    items.add_recovery_passwords()->set_internalid("p-1");
    items.add_recovery_data_blocks()->set_internalid("d-1");
    items.add_recovery_passwords()->set_internalid("p-3");
    task.Execute(answer);
    EXPECT_EQ("retry: Product does not answer", Outcome([&] { task.Execute(answer); }));

    EXPECT_FALSE(m.channel->sent.at(0).hadReceiver);
    EXPECT_EQ(opening + "</REQUEST></MESSAGE></VELM>", m.channel->sent.at(0).Body());
    EXPECT_EQ(
        opening +
            "<RECOVERY_PASSWORD UID=\"p-1\" /><RECOVERY_PASSWORD UID=\"p-3\" /><RECOVERY_DATA UID=\"d-1\" />"
            "</REQUEST></MESSAGE></VELM>",
        m.channel->sent.at(1).Body());
    EXPECT_TRUE(m.publisher->published.empty());
}
