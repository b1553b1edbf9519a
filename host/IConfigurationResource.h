#pragma once

#include <string>
#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// The host's configuration (resource 12). The connector reads no settings; it only holds it.
class IConfigurationResource : public IResource {
public:
    virtual std::string GetValue(const std::string& name, const std::string& fallback) const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
