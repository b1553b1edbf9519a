#pragma once

#include <cstdint>
#include <optional>

namespace Zun {
namespace Connectors {
namespace Common {

// One RECORD of the product's protection status document. A status of 0xFFFFFFFF carries nothing
// else; the other fields are then absent.
struct ProtectionStatusRecord {
    uint32_t Status = 0;
    std::optional<int64_t> Level;
    std::optional<int64_t> StatusTextId;
    std::optional<int64_t> CategoryResId;
    std::optional<int64_t> StatusResId;
    std::optional<int64_t> DescriptionResId;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
