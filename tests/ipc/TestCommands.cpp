#include "tests/ipc/TestCommands.h"

#include <algorithm>
#include <cstring>

namespace Zun {
namespace IpcTest {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + seed + (i >> 8));
    }
    return bytes;
}

std::uint32_t Checksum(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash;
}

std::uint32_t FirstWord(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data(), std::min<std::size_t>(bytes.size(), 4));
    return word;
}

std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.begin(), bytes.size());
    return bytes;
}

}  // namespace IpcTest
}  // namespace Zun
