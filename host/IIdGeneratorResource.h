#pragma once

#include <string>

#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// Generates fresh identifiers (resource 4). The connector only holds it.
class IIdGeneratorResource : public IResource {
public:
    virtual std::string GenerateId() = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
