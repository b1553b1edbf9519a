// The library's face towards the host's class loader.
#include <Poco/ClassLibrary.h>

#include <boost/locale/generator.hpp>
#include <boost/locale/localization_backend.hpp>
#include <locale>

#include "host/IModule.h"
#include "module/CQUILConnectorModule.h"

POCO_BEGIN_MANIFEST(Zun::Common::Kernel::IModule)
POCO_EXPORT_INTERFACE(Zun::Connectors::QUILConnector::CQUILConnectorModule,
                      "Zun::Connectors::QUILConnector::CConnectorModule")
POCO_END_MANIFEST

namespace {

// The standard library's backend: the module needs character classes and UTF conversion, not
// ICU's collation or formatting, whose data would otherwise stay resident in every agent.
std::locale MakeDefaultLocale() {
    boost::locale::localization_backend_manager manager =
        boost::locale::localization_backend_manager::global();
    manager.select("std");
    return boost::locale::generator(manager)("");
}

}  // namespace

extern "C" void POCO_LIBRARY_API pocoInitializeLibrary() {
    // Built once from the system's default locale and kept for the library's lifetime.
    static const std::locale defaultLocale = MakeDefaultLocale();
    std::locale::global(defaultLocale);
}
