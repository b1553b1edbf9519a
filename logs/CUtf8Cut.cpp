#include "logs/CUtf8Cut.h"

#include <stdexcept>

namespace Zun {
namespace Common {
namespace Logs {

namespace {

const char kEllipsis[] = "...";
const int kEllipsisLength = 3;

// Bytes that may precede the ellipsis. Limits shorter than the ellipsis keep up to limit - 1 bytes
// in front of it, so that a two-byte field still keeps its first ASCII character.
size_t PrefixBudget(int limit) {
    return static_cast<size_t>(limit >= kEllipsisLength ? limit - kEllipsisLength : limit - 1);
}

}  // namespace

std::string CUtf8Cut::Cut(const std::string& text, int limit) {
    if (limit < 1 || static_cast<size_t>(limit) >= text.size()) {
        return text;
    }
    const size_t budget = PrefixBudget(limit);
    size_t kept = 0;
    while (kept < text.size()) {
        const size_t next = kept + CharLength(static_cast<unsigned char>(text[kept]));
        if (next > budget) {
            break;
        }
        kept = next;
    }
    return text.substr(0, kept) + kEllipsis;
}

size_t CUtf8Cut::CharLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xC0) == 0x80) {
        throw std::runtime_error("Invalid utf8 leading byte");
    }
    size_t ones = 0;
    for (unsigned char bit = 0x80; bit != 0 && (lead & bit) != 0; bit >>= 1) {
        ++ones;
    }
    if (ones > 6) {
        throw std::runtime_error("Utf8 character cannot have more than 6 characters");
    }
    return ones;
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
