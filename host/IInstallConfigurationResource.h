#pragma once

#include <string>

#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// What the agent's installation knows about itself (resource 2).
class IInstallConfigurationResource : public IResource {
public:
    // The agent instance identifier as UUID text.
    virtual std::string GetInstanceUUID() const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
