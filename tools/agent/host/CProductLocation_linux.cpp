#include "platform/CObjectRoot.h"
#include "tools/agent/host/CProductLocation.h"

namespace Zun {
namespace Tools {
namespace Agent {

std::string CProductLocation::Describe() {
    return "object root " + Platform::CObjectRoot::Path() + " (" + Platform::CObjectRoot::Origin() + ")";
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
