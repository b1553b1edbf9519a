#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/ipc/CSlotOverride.h"
#include "tests/ipc/TestCommands.h"
#include "tests/support/CServerProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace IpcTest {

using Testing::CServerProcess;
using Testing::CTemporaryObjectRoot;

}  // namespace IpcTest
}  // namespace Zun
