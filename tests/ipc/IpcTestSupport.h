#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/ipc/CSlotOverride.h"
#include "tests/support/CServerProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace IpcTest {

using Testing::CServerProcess;
using Testing::CTemporaryObjectRoot;

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 7);
std::uint32_t Checksum(const std::uint8_t* bytes, std::size_t size);

}  // namespace IpcTest
}  // namespace Zun
