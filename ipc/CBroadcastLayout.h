#pragma once

#include <cstdint>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// Where the product keeps what in its broadcast data. Module entry fields are computed for a
// table at 84 and shifted by the table offset the area actually announces.
class CBroadcastLayout {
public:
    static constexpr std::int64_t kModuleTableOffset = 12;
    static constexpr std::int64_t kModuleCount = 20;
    static constexpr std::int64_t kLayoutTableOffset = 84;
    static constexpr std::int64_t kModuleEntrySize = 20;
    static constexpr std::uint32_t kServerModuleId = 0x1004000;

    enum ModuleField : std::int64_t {
        kModuleId = 0,
        kUserDataSize = 4,
        kUserDataOffset = 8,
        kUserDataTimestamp = 12,
    };

    // Broadcast values 0 to 9; -1 for any other index.
    static std::int64_t ValueOffset(std::uint32_t index) {
        static constexpr std::int64_t kOffsets[] = {24, 28, 32, 36, 40, 52, 56, 60, 64, 68};
        return index < 10 ? kOffsets[index] : -1;
    }
    // A layout offset of a module entry field moved to the actual table offset.
    static std::int64_t Shift(std::int64_t layoutOffset, std::uint32_t tableOffset) {
        return layoutOffset - kLayoutTableOffset + tableOffset;
    }
    static std::int64_t ModuleField(std::int64_t index, ModuleField field, std::uint32_t tableOffset) {
        return Shift(kLayoutTableOffset + kModuleEntrySize * index + field, tableOffset);
    }
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
