#include "tasks/CRecoveryDescrambler.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

namespace {

// Shared secret with the product: changing one byte here makes every recovery secret unreadable.
const uint8_t Key31[31] = {0x76, 0xFF, 0x01, 0xD5, 0x82, 0xD5, 0xDD, 0x6D, 0x51, 0x33, 0xEC,
                           0x30, 0xB6, 0xC3, 0x45, 0xCB, 0x9D, 0x2A, 0x91, 0x41, 0x75, 0x21,
                           0xAA, 0x34, 0x91, 0xA9, 0x4B, 0xBF, 0xB8, 0x5A, 0xB5};
const uint8_t Key29[29] = {0x71, 0x7B, 0x68, 0x2D, 0xA6, 0x8E, 0x06, 0xAB, 0x46, 0xED,
                           0xA2, 0x02, 0xB6, 0x51, 0xAA, 0x59, 0xF9, 0xDD, 0x0B, 0x34,
                           0x8E, 0x97, 0x8B, 0x73, 0xCA, 0x80, 0x8F, 0x98, 0xF7};
const uint8_t Key23[23] = {0x2C, 0x8E, 0x98, 0x7C, 0xC6, 0x9E, 0x89, 0xDD, 0x89, 0xA2, 0x65, 0x2D,
                           0x09, 0x1B, 0x95, 0x8E, 0xAB, 0x72, 0xE1, 0x31, 0x81, 0xE1, 0xFC};
const uint8_t Key17[17] = {0x9B, 0x9A, 0x0C, 0x98, 0xFE, 0x7F, 0xE8, 0xB6, 0x40,
                           0xCC, 0xB1, 0xF9, 0x77, 0x7C, 0xFC, 0x02, 0xFB};
const uint8_t Key13[13] = {0x1B, 0x09, 0x42, 0xC2, 0xAF, 0x84, 0xE7, 0xDB, 0x4A, 0xA5, 0x46, 0xD9, 0x1C};
const uint8_t Key11[11] = {0x42, 0x51, 0xA9, 0xC8, 0x68, 0x8F, 0x0C, 0x0B, 0xCB, 0x59, 0xF2};

}  // namespace

const std::array<CRecoveryDescrambler::KeyTable, CRecoveryDescrambler::TableCount>&
CRecoveryDescrambler::KeyTables() {
    static const std::array<KeyTable, TableCount> tables = {{
        {Key31, sizeof(Key31)},
        {Key29, sizeof(Key29)},
        {Key23, sizeof(Key23)},
        {Key17, sizeof(Key17)},
        {Key13, sizeof(Key13)},
        {Key11, sizeof(Key11)},
    }};
    return tables;
}

std::string CRecoveryDescrambler::Descramble(const std::string& bytes) {
    // The product counts lengths in 32 bits; its start indexes follow from that count.
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    std::array<uint32_t, TableCount> index;
    for (size_t t = 0; t < TableCount; ++t) {
        index[t] = length % KeyTables()[t].length;
    }
    std::string out(bytes);
    for (char& byte : out) {
        for (size_t t = 0; t < TableCount; ++t) {
            byte = static_cast<char>(byte ^ KeyTables()[t].bytes[index[t]]);
            index[t] = index[t] + 1 == KeyTables()[t].length ? 0 : index[t] + 1;
        }
    }
    return out;
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
