#pragma once

#include "tests/standin/CPortStandIn.h"

namespace Zun {
namespace IpcTest {

// The product's reading of a request: the bytes wherever the client put them (inline, LPC data
// entry 0, ALPC view), its message type, and the reply capacity the client offered.
std::vector<std::uint8_t> RequestBytes(const Testing::CPortStandIn::Request& request);
std::uint32_t MessageType(const Testing::CPortStandIn::Request& request);
std::uint32_t ReplyCapacity(const Testing::CPortStandIn::Request& request);
// The product's reply: short ones inline; longer ones in a view (ALPC) or written into the client's
// reply buffer through data entry 1 (LPC).
Testing::CPortStandIn::Reply ProductReply(const Testing::CPortStandIn::Request& request, std::uint32_t result,
                                          const std::vector<std::uint8_t>& bytes);

// The test product of the ipc tests (TestCommands.h), served in-process through the port stand-in:
// it reads each request as the product would (inline, from the LPC data entries, from an ALPC
// view) and answers the way the command asks.
Testing::CPortStandIn::Handler StandInProduct(Testing::CPortStandIn::Kind kind);

}  // namespace IpcTest
}  // namespace Zun
