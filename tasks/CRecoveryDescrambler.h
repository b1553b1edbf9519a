#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// The product scrambles recovery passwords and recovery data with six repeating XOR keys of
// pairwise coprime lengths before it hands them over. XOR makes the operation its own inverse, so
// the product side and the connector share this one class and these very tables.
class CRecoveryDescrambler {
public:
    struct KeyTable {
        const uint8_t* bytes;
        uint32_t length;
    };
    static constexpr size_t TableCount = 6;

    // Longest first: 31, 29, 23, 17, 13 and 11 bytes.
    static const std::array<KeyTable, TableCount>& KeyTables();

    // Scrambles or unscrambles: the output has as many bytes as the input, zero bytes included.
    // Each key starts at the input length modulo its own length, so equal prefixes of inputs of
    // different lengths scramble differently.
    static std::string Descramble(const std::string& bytes);
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
