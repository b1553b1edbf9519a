#include "tools/agent/logs/CTerminalText.h"

#include <cstdio>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const unsigned char kDelete = 0x7F;
const unsigned char kEscape = 0x1B;
// U+0080..U+009F are encoded as 0xC2 followed by 0x80..0x9F.
const unsigned char kC1Lead = 0xC2;
const unsigned char kC1First = 0x80;
const unsigned char kC1Last = 0x9F;

bool IsC1At(const std::string& text, size_t i) {
    return static_cast<unsigned char>(text[i]) == kC1Lead && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) >= kC1First &&
           static_cast<unsigned char>(text[i + 1]) <= kC1Last;
}

std::string Hex(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string EscapeOf(unsigned char c) {
    switch (c) {
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        case kEscape:
            return "\\e";
        default:
            return Hex("\\x%02X", c);
    }
}

}  // namespace

std::string CTerminalText::Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == kDelete) {
            out += EscapeOf(c);
        } else if (IsC1At(text, i)) {
            out += Hex("\\u%04X", static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string CTerminalText::JsonEscaped(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i) {
        if (static_cast<unsigned char>(json[i]) == kDelete) {
            out += "\\u007F";
        } else if (IsC1At(json, i)) {
            out += Hex("\\u%04X", static_cast<unsigned char>(json[++i]));
        } else {
            out += json[i];
        }
    }
    return out;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
