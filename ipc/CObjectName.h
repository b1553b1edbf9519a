#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/NtTypes.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The names of the product's ports and broadcast objects: <prefix>PIXLINK<first>To<second><suffix>
// with both ids as eight upper-case hexadecimal digits, in a buffer of 64 wide characters.
class CObjectName {
public:
    static constexpr std::size_t kCapacity = 64;

    // Truncates to kCapacity - 1 characters and always terminates; returns the length.
    static std::size_t Format(Platform::WCHAR (&buffer)[kCapacity], const char* prefix, std::uint32_t first,
                              std::uint32_t second, const char* suffix);
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
