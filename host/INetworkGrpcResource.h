#pragma once

#include <string>

#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// The host's management-network channel (resource 14, optional). The connector only holds it.
class INetworkGrpcResource : public IResource {
public:
    virtual std::string GetEndpoint() const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
