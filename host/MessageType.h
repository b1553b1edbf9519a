#pragma once

#include <cstdint>

namespace Zun {
namespace Common {
namespace Kernel {

// Number of a bus message or log type.
typedef uint32_t MessageType;

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
