#pragma once

#include "tests/standin/CPortStandIn.h"

namespace Zun {
namespace IpcTest {

// The test product of the ipc tests (TestCommands.h), served in-process through the port stand-in:
// it reads each request as the product would (inline, from the LPC data entries, from an ALPC
// view) and answers the way the command asks.
Testing::CPortStandIn::Handler StandInProduct(Testing::CPortStandIn::Kind kind);

}  // namespace IpcTest
}  // namespace Zun
