#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// UTF-8 of UTF-16 code units, as the task-status record needs it: a surrogate unit takes the unit
// after it along and the pair becomes a single "*", because task user data is plain identifiers and
// anything beyond the basic plane only has to stay recognisably wrong. A surrogate as the last unit
// also gives "*".
std::string ConvertUtf16ToUtf8(const uint16_t* units, size_t count);

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
