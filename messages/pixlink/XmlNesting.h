#pragma once

#include <cstddef>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// How deep the property tree's XML reader would nest elements while reading text, found without
// recursion. The reader recurses once per open element, so a hostile reply of nothing but opening
// tags would otherwise exhaust the stack. The scan follows the reader's own grammar for everything
// that opens or closes a level, stops where the reader would fail, and gives up as soon as the depth
// exceeds limit, returning that depth.
size_t MeasureElementNesting(const std::string& text, size_t limit);

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
