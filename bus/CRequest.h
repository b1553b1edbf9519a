#pragma once

#include "bus/CModuleRequest.h"
#include "bus/CWriteControl.h"

namespace Zun {
namespace Common {
namespace Message {

// An inter-module request with read-only control.
class CRequest : public Module::CRequest, public CWriteControl {};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
