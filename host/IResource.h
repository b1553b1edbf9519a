#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

namespace Zun {
namespace Common {
namespace Kernel {

// A service the host lends to a module; the module casts it to the interface it expects.
class IResource {
public:
    virtual ~IResource() = default;
};

// Hands out the host's resources by number.
class IResourceProvider {
public:
    virtual ~IResourceProvider() = default;
    virtual boost::shared_ptr<IResource> GetResource(int number) = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
