#pragma once

#include <string>

#include "host/IResource.h"

namespace Zun {
namespace Common {
namespace Kernel {

// A plug-in module as the host drives it: Initialize, Start, later Stop, then Terminate until it
// returns true (or once with force), then destruction.
class IModule {
public:
    virtual ~IModule() = default;
    virtual void Initialize(IResourceProvider& resources) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool Terminate(bool force) = 0;
    virtual std::string GetName() const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
