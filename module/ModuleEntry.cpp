// The library's face towards the host's class loader.
#include <Poco/ClassLibrary.h>

#include <algorithm>
#include <boost/locale/generator.hpp>
#include <boost/locale/localization_backend.hpp>
#include <locale>
#include <string>
#include <vector>

#include "host/IModule.h"
#include "module/CQUILConnectorModule.h"

POCO_BEGIN_MANIFEST(Zun::Common::Kernel::IModule)
POCO_EXPORT_INTERFACE(Zun::Connectors::QUILConnector::CQUILConnectorModule,
                      "Zun::Connectors::QUILConnector::CConnectorModule")
POCO_END_MANIFEST

namespace {

// The module needs character classes and UTF conversion, not ICU's collation or formatting, whose
// data would otherwise stay resident in every agent: the system's own backend where Boost has one
// (Windows), else the standard library's (whose named locales a MinGW build does not have).
std::locale MakeDefaultLocale() {
    boost::locale::localization_backend_manager manager =
        boost::locale::localization_backend_manager::global();
    const std::vector<std::string> backends = manager.get_all_backends();
    manager.select(std::find(backends.begin(), backends.end(), "winapi") != backends.end() ? "winapi"
                                                                                           : "std");
    return boost::locale::generator(manager)("");
}

// The process's default locale as it was at the first call, before this library installed its own.
const std::locale& HostLocale() {
    static const std::locale host;
    return host;
}

}  // namespace

extern "C" void POCO_LIBRARY_API pocoInitializeLibrary() {
    // Built once from the system's default locale and kept for the library's lifetime.
    static const std::locale defaultLocale = MakeDefaultLocale();
    HostLocale();
    std::locale::global(defaultLocale);
}

// The class loader calls this before it unloads the library. The default locale's facets live in
// the library's own dependencies, which Windows unloads with it: the host gets its locale back.
extern "C" void POCO_LIBRARY_API pocoUninitializeLibrary() {
    std::locale::global(HostLocale());
}
