#pragma once

#include <string>

namespace Zun {
namespace Common {
namespace Logs {

// Shortens a text to a byte limit without splitting a UTF-8 character, marking the cut with "...".
class CUtf8Cut {
public:
    // Returns text unchanged when limit is below 1 or the text already fits; otherwise the longest
    // prefix of whole characters that leaves room for the "..." suffix. Throws std::runtime_error on
    // a malformed character met before the cut.
    static std::string Cut(const std::string& text, int limit);

private:
    static size_t CharLength(unsigned char lead);
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
