#pragma once

#include <string>

#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// The host's log (resource 3). Levels run from 1 to 4, higher is more severe.
class ILoggerResource : public IResource {
public:
    virtual void Write(const std::string& text, int level, const std::string& sourceName) = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
