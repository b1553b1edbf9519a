#pragma once

#include "bus/CWriteControl.h"
#include "host/IMessage.h"

namespace Zun {
namespace Common {
namespace Message {

// Base of the bus messages this module creates.
class CMessage : public Kernel::IMessage, public CWriteControl {};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
