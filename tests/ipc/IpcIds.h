#pragma once

#include <cstdint>

namespace Zun {
namespace IpcTest {

// The endpoint ids the product channel uses, and the size of the tests' broadcast data.
constexpr std::uint32_t kLocalId = 0x61464445;
constexpr std::uint32_t kRemoteId = 0x31464445;
constexpr std::uint32_t kBroadcastDataSize = 256;

}  // namespace IpcTest
}  // namespace Zun
