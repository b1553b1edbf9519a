#include "messages/pixlink/Utf16Text.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

bool IsSurrogate(uint16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& text, uint16_t unit) {
    if (unit < 0x80) {
        text += static_cast<char>(unit);
    } else if (unit < 0x800) {
        text += static_cast<char>(0xC0 | (unit >> 6));
        text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (unit >> 12));
        text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

}  // namespace

std::string ConvertUtf16ToUtf8(const uint16_t* units, size_t count) {
    std::string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (IsSurrogate(units[i])) {
            text += '*';
            ++i;
        } else {
            AppendUtf8(text, units[i]);
        }
    }
    return text;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
