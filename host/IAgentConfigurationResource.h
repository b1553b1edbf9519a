#pragma once

#include <string>
#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// The agent's own configuration, offered under number 12 by hosts that have it. Only held.
class IAgentConfigurationResource : public IResource {
public:
    virtual std::string GetAgentValue(const std::string& name) const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
