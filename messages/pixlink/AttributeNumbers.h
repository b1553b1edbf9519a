#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Numbers in reply attributes. The hexadecimal readers take what stream extraction gives: leading
// white space is skipped, reading stops at the first non-digit, a text without digits gives 0 and an
// overflow the largest value.
uint32_t ParseHexUInt32(const std::string& text);
int64_t ParseHexInt64(const std::string& text);
uint64_t ParseHexUInt64(const std::string& text);

// A decimal number only when the whole text, white space around it aside, is one.
std::optional<int64_t> ParseDecimalInt64(const std::string& text);

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
