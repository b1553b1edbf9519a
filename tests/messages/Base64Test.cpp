#include <gtest/gtest.h>

#include "messages/Base64.h"
#include "tests/messages/ReplyPayload.h"

using Zun::Connectors::Common::DecodeBase64;
using Zun::Connectors::Common::EncodeBase64;

namespace {

TEST(Base64Test, StandardAlphabetAndPaddingBothWays) {
    // RFC 4648, section 10, and the two characters beyond letters and digits.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {{"\xfb\xff\xbf", 3}, "+/+/"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(v.second, EncodeBase64(v.first));
        EXPECT_EQ(v.first, DecodeBase64(v.second));
    }
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    EXPECT_EQ(all, DecodeBase64(EncodeBase64(all)));
    EXPECT_EQ(std::string::npos, EncodeBase64(all).find_first_of("\r\n"));
}

TEST(Base64Test, DecodingSkipsFourSpacesAndStopsAtPadding) {
    const std::pair<const char*, std::string> accepted[] = {
        {" Zm9v\r\nYmFy\t", "foobar"}, {"Z g = =", "f"}, {"Zg", "f"},     {"Zm8", "fo"}, {"Zg==Zm9v", "f"},
        {"Zg=garbage!", "f"},          {"=", ""},        {" \t\r\n", ""}, {"QR==", "A"},
    };
    for (const auto& c : accepted) {
        EXPECT_EQ(c.second, DecodeBase64(c.first)) << c.first;
    }
}

TEST(Base64Test, DecodingRejectsOtherCharactersAndALoneLastCharacter) {
    for (const std::string text :
         {"Zg\v==", "Zg\f==", "Zm-v", "Zm_v", "Zm9v\x80", "Z", "Zm9vY", "Zm9vY===", "Zm9v.", "\xc3\xa9"}) {
        EXPECT_EQ("DecodeBase64: decode_base64 failed to decode data",
                  MessagesTest::FailureText<std::runtime_error>([&] { DecodeBase64(text); }))
            << text;
    }
    EXPECT_THROW(DecodeBase64(std::string("Zm\0v", 4)), std::runtime_error);
}

}  // namespace
