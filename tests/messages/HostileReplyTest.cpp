#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <functional>
#include <random>
#include <sstream>

#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "messages/pixlink/XmlNesting.h"
#include "tests/messages/ReplyPayload.h"

using namespace MessagesTest;
using Zun::Connectors::Common::IChannelMessageFactory;
using Zun::Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory;
using Zun::Connectors::Common::Pixlink::Messages::MeasureElementNesting;

namespace {

typedef std::function<IChannelMessageFactory::MessagePtr(const IChannelMessageFactory&)> Creator;

struct Parser {
    const char* name;
    Creator create;
    Bytes sample;
    bool xml;
};

Bytes TaskSample() {
    std::string text;
    for (char c : std::string("11111111-2222;33333333-4444;55555555-6666")) {
        text += {c, '\0'};
    }
    return Reply(Text(Header(1, 2, 12, text + std::string("\x3D\xD8\0\0", 4))));
}

const Parser Parsers[] = {
    {"status", [](auto& f) { return f.CreateGetStatusResponse(); },
     Reply("<?xml version=\"1.0\"?><VELM><SECTION><STATUS><RECORD STATUS=\"1\" "
           "CATEGORY_RES_ID=\"7100000000001AB\" "
           "STATUS_RES_ID=\"120000FD\" DESCRIPTION_RES_ID=\"2\"/><RECORD STATUS=\"FFFFFFFF\"/><!-- c -->"
           "</STATUS></SECTION></VELM>"),
     true},
    {"licence", [](auto& f) { return f.CreateGetLicenseResponse(); },
     Reply("<VELM><SECTION><INFORMATION><GROUP NAME=\"LICENSEINFO\"><License AssociatedSeatId=\"s\" "
           "LicensePublicId=\"p\" LicenseProductName=\"n\" ActivatedByZun=\"1\" "
           "LicenseExpirationDate=\"5F5E1000\" "
           "ProductCode=\"29\" SeatName=\"x\" LicenseRenewalPeriod=\"3\" LicenseType=\" t \" "
           "LicenseFlags=\"4\" "
           "LicenseModelType=\"m\" LicenseModelStatus=\"ok\"/></GROUP></INFORMATION></SECTION></VELM>"),
     true},
    {"recovery", [](auto& f) { return f.CreateGetEncryptionRecoveryDataResponse(); },
     Reply("<VELM><MESSAGE><RESPONSE><RECOVERY_PASSWORD UID=\"1\" DEVICEID=\"d\" INDEX=\"0\">QUJD"
           "</RECOVERY_PASSWORD><RECOVERY_DATA UID=\"2\" DEVICEID=\"d\"><![CDATA[REVG]]></RECOVERY_DATA>"
           "</RESPONSE></MESSAGE></VELM>"),
     true},
    {"task status", [](auto& f) { return f.CreateGetTaskStatusResponse(); }, TaskSample(), false},
    {"export", [](auto& f) { return f.CreateExportConfigurationResponse(); }, Reply("<cfg a=\"1\"/>"), false},
};

// Any standard exception is an acceptable answer to a broken reply; anything else fails the test.
void Survives(const Parser& parser, const Bytes& payload) {
    try {
        parser.create(CPixlinkMessageFactory())->Deserialize(payload);
    } catch (const std::exception&) {
    } catch (...) {
        ADD_FAILURE() << parser.name << ": non-standard exception";
    }
}

TEST(HostileReplyTest, SamplesParseAndEveryTruncationFailsCleanly) {
    for (const Parser& parser : Parsers) {
        EXPECT_NO_THROW(parser.create(CPixlinkMessageFactory())->Deserialize(parser.sample)) << parser.name;
        for (size_t size = 0; size < parser.sample.size(); ++size) {
            const Bytes cut(parser.sample.begin(), parser.sample.begin() + size);
            Survives(parser, cut);
            if (size >= 12) {
                // The same cut with a header that admits it, so the body parser itself meets the end.
                Survives(parser, Reply(Text(Bytes(cut.begin() + 12, cut.end()))));
            }
        }
    }
}

const char* const Tokens[] = {"<",    ">",    "/",    "\"",       "'",         "=",   " ",     "<a>",
                              "</a>", "<a/>", "<!--", "-->",      "<![CDATA[", "]]>", "<!",    "<!DOCTYPE ",
                              "[",    "]",    "<?",   "?>",       "&",         "&#x", "&#65;", "&lt;",
                              ";",    "x=\"", "\0",   "\xff\xfe", "\xd8",      "\n"};

std::string Token(std::mt19937& random) {
    const char* token = Tokens[random() % (sizeof Tokens / sizeof Tokens[0])];
    return *token == '\0' ? std::string(1, '\0') : std::string(token);
}

// One to four edits: a random byte, an inserted markup token, a cut, a repeated range, or a lying
// header word (huge, zero or small) in the reply or record header.
Bytes Mutate(Bytes bytes, std::mt19937& random) {
    for (int i = 1 + static_cast<int>(random() % 4); i > 0; --i) {
        const size_t at = random() % (bytes.size() + 1);
        const size_t end = std::min(bytes.size(), at + random() % 64);
        const uint32_t words[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, static_cast<uint32_t>(random() % 200)};
        const size_t word = 4 * (1 + random() % 5);
        const std::string token = Token(random);
        const Bytes range(bytes.begin() + at, bytes.begin() + end);
        switch (random() % 5) {
            case 0:
                bytes.insert(bytes.begin() + at, static_cast<uint8_t>(random()));
                break;
            case 1:
                bytes.insert(bytes.begin() + at, token.begin(), token.end());
                break;
            case 2:
                bytes.erase(bytes.begin() + at, bytes.begin() + end);
                break;
            case 3:
                bytes.insert(bytes.begin() + random() % (bytes.size() + 1), range.begin(), range.end());
                break;
            default:
                if (bytes.size() >= word + 4) {
                    const Bytes value = Header(words[random() % 4], 0, 0, "");
                    std::copy(value.begin(), value.begin() + 4, bytes.begin() + word);
                }
        }
    }
    return bytes;
}

size_t TreeDepth(const boost::property_tree::ptree& tree) {
    size_t depth = 0;
    for (const auto& child : tree) {
        if (child.first != "<xmlattr>" && child.first != "<xmlcomment>") {
            depth = std::max(depth, 1 + TreeDepth(child.second));
        }
    }
    return depth;
}

// Wherever the reader succeeds, the nesting scan must not have seen less than the reader built;
// an element without content adds one tree level that costs the reader no recursion.
void ExpectNestingCovers(const std::string& document) {
    std::istringstream stream(document);
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::read_xml(stream, tree);
    } catch (const boost::property_tree::xml_parser_error&) {
        return;
    }
    EXPECT_LE(TreeDepth(tree), MeasureElementNesting(document, static_cast<size_t>(-1)) + 1) << document;
}

TEST(HostileReplyTest, MutatedRepliesNeverCrash) {
    std::mt19937 random(20240611);
    for (const Parser& parser : Parsers) {
        for (int i = 0; i < 3000; ++i) {
            const Bytes mutated = Mutate(parser.sample, random);
            Survives(parser, mutated);
            if (parser.xml && mutated.size() >= 12) {
                ExpectNestingCovers(Text(Bytes(mutated.begin() + 12, mutated.end())));
            }
        }
    }
}

TEST(HostileReplyTest, RandomMarkupNestingNeverUndercounts) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::string document;
        const int tokens = 1 + static_cast<int>(random() % 40);
        for (int t = 0; t < tokens; ++t) {
            document += Token(random);
        }
        ExpectNestingCovers(document);
    }
}

TEST(HostileReplyTest, DeepNestingIsRefusedWithoutRecursion) {
    std::string deep;
    for (int i = 0; i < 1000000; ++i) {
        deep += "<a x='>'>";
    }
    for (const Parser& parser : Parsers) {
        if (parser.xml) {
            EXPECT_THROW(parser.create(CPixlinkMessageFactory())->Deserialize(Reply(deep)),
                         boost::property_tree::xml_parser_error);
        }
    }
    // A hundred levels are still read.
    std::string open = "<VELM><SECTION><STATUS>", close = "</STATUS></SECTION></VELM>";
    for (int i = 3; i < 100; ++i) {
        open += "<X>";
        close = "</X>" + close;
    }
    EXPECT_NO_THROW(CPixlinkMessageFactory().CreateGetStatusResponse()->Deserialize(Reply(open + close)));
}

struct Nesting {
    const char* document;
    size_t depth;
};

TEST(XmlNestingTest, FollowsTheReadersGrammar) {
    const Nesting cases[] = {
        {"", 0},
        {"<a/>", 0},
        {"<a></a>", 1},
        {"\xEF\xBB\xBF<a><b></b></a>", 2},
        {"<a><b/><c></c></a>", 2},
        {"<a x='>' y=\"'\"><b>", 2},
        {"<a><!-- <b> --><![CDATA[<c>]]></a>", 1},
        {"<a><!DOCTYPE d [<e> [<f>] ]><g>", 2},
        {"<a><!DOCTYPEx [</a>]><b><c>", 3},
        {"<a><!x </a>]><b>", 2},
        {"<a><?><b>?><c>", 2},
        {"<a></ a ><b>", 1},
        {"<a>text<b>text</b></a><c>", 2},
        {"<a x><b><c>", 0},
        {"<a x=1><b><c>", 0},
        {"x<a><b>", 0},
    };
    for (const Nesting& c : cases) {
        EXPECT_EQ(c.depth, MeasureElementNesting(c.document, 1000)) << c.document;
    }
    EXPECT_EQ(1u, MeasureElementNesting(std::string("<a>\0<b><c>", 10), 1000));
    EXPECT_EQ(6u, MeasureElementNesting("<a><a><a><a><a><a><a><a>", 5));
}

}  // namespace
