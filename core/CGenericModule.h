#pragma once

#include <boost/shared_ptr.hpp>

#include "host/IBusResource.h"
#include "host/IConfigurationResource.h"
#include "host/IIdGeneratorResource.h"
#include "host/IInstallConfigurationResource.h"
#include "host/ILoggerResource.h"
#include "host/IModule.h"

namespace Zun {
namespace Common {
namespace Module {

// The host's resources every module needs, taken in one place.
class CGenericModule : public Kernel::IModule {
protected:
    // Takes resources 1, 2, 3, 4 and 12 in that order; throws "Bad cast to Zun::Common::Kernel::<name>"
    // on the first that is missing or of another kind.
    void TakeResources(Kernel::IResourceProvider& resources);

    // Casts one resource; throws the bad-cast error when required and absent.
    template <typename T>
    static boost::shared_ptr<T> Take(Kernel::IResourceProvider& resources, int number, const char* name,
                                     bool required);

    boost::shared_ptr<Kernel::IBusResource> m_bus;
    boost::shared_ptr<Kernel::IInstallConfigurationResource> m_installConfiguration;
    boost::shared_ptr<Kernel::ILoggerResource> m_logger;
    boost::shared_ptr<Kernel::IIdGeneratorResource> m_idGenerator;
    boost::shared_ptr<Kernel::IConfigurationResource> m_configuration;
};

template <typename T>
boost::shared_ptr<T> CGenericModule::Take(Kernel::IResourceProvider& resources, int number, const char* name,
                                          bool required) {
    boost::shared_ptr<T> resource = boost::dynamic_pointer_cast<T>(resources.GetResource(number));
    if (!resource && required) {
        throw std::runtime_error(std::string("Bad cast to Zun::Common::Kernel::") + name);
    }
    return resource;
}

}  // namespace Module
}  // namespace Common
}  // namespace Zun
