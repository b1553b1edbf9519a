// The library's face towards the host's class loader.
#include <Poco/ClassLibrary.h>

#include <boost/locale/generator.hpp>
#include <locale>

#include "host/IModule.h"
#include "module/CQUILConnectorModule.h"

POCO_BEGIN_MANIFEST(Zun::Common::Kernel::IModule)
POCO_EXPORT_INTERFACE(Zun::Connectors::QUILConnector::CQUILConnectorModule,
                      "Zun::Connectors::QUILConnector::CConnectorModule")
POCO_END_MANIFEST

extern "C" void POCO_LIBRARY_API pocoInitializeLibrary() {
    // Built once from the system's default locale and kept for the library's lifetime.
    static const std::locale defaultLocale = boost::locale::generator()("");
    std::locale::global(defaultLocale);
}
