#include <stdexcept>

#include "tools/agent/link/CServerLink.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The Windows agent has no gRPC yet; the link stays a Linux feature until it does.
class CServerLink::CImpl {};

bool CServerLink::IsAvailable() {
    return false;
}

CServerLink::CServerLink(const Settings&, ILinkStore&, TaskRunner, Log) {}

CServerLink::~CServerLink() = default;

void CServerLink::Start() {
    throw std::runtime_error("the server link is not available on Windows yet");
}

void CServerLink::Wake() {}

void CServerLink::Stop() {}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
