#include "core/CGenericModule.h"

namespace Zun {
namespace Common {
namespace Module {

void CGenericModule::TakeResources(Kernel::IResourceProvider& resources) {
    m_bus = Take<Kernel::IBusResource>(resources, 1, "IBusResource", true);
    m_installConfiguration =
        Take<Kernel::IInstallConfigurationResource>(resources, 2, "IInstallConfigurationResource", true);
    m_logger = Take<Kernel::ILoggerResource>(resources, 3, "ILoggerResource", true);
    m_idGenerator = Take<Kernel::IIdGeneratorResource>(resources, 4, "IIdGeneratorResource", true);
    m_configuration = Take<Kernel::IConfigurationResource>(resources, 12, "IConfigurationResource", true);
}

}  // namespace Module
}  // namespace Common
}  // namespace Zun
