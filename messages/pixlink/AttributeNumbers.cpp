#include "messages/pixlink/AttributeNumbers.h"

#include <sstream>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The common text, nothing but up to maxDigits digits (too few to overflow T), is converted here;
// everything else (white space, signs, prefixes, trailing text, long texts) goes through stream
// extraction, whose rules for those are the ones that count. A stream costs far more than the digits.
template <typename T>
T ParseHex(const std::string& text, size_t maxDigits) {
    if (!text.empty() && text.size() <= maxDigits) {
        uint64_t value = 0;
        bool plain = true;
        for (const char c : text) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                plain = false;
                break;
            }
            value = value << 4 | static_cast<uint64_t>(digit);
        }
        if (plain) {
            return static_cast<T>(value);
        }
    }
    std::istringstream stream(text);
    T value = 0;
    stream >> std::hex >> value;
    return value;
}

}  // namespace

uint32_t ParseHexUInt32(const std::string& text) {
    return ParseHex<uint32_t>(text, 8);
}

int64_t ParseHexInt64(const std::string& text) {
    return ParseHex<int64_t>(text, 15);
}

uint64_t ParseHexUInt64(const std::string& text) {
    return ParseHex<uint64_t>(text, 16);
}

std::optional<int64_t> ParseDecimalInt64(const std::string& text) {
    // As above: plain digits, too few to overflow, are converted without a stream.
    if (!text.empty() && text.size() <= 18) {
        int64_t value = 0;
        bool plain = true;
        for (const char c : text) {
            if (c < '0' || c > '9') {
                plain = false;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (plain) {
            return value;
        }
    }
    std::istringstream stream(text);
    int64_t value = 0;
    if (!(stream >> value)) {
        return std::nullopt;
    }
    stream >> std::ws;
    if (!stream.eof()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
