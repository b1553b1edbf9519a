#include "ipc/CAdvapi32.h"

#include "ipc/LazyBindingStubs.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

Platform::RegOpenKeyExWFn CAdvapi32::RegOpenKeyExW =
    &LazyStub<Platform::RegOpenKeyExWFn, &CAdvapi32::RegOpenKeyExW, &CAdvapi32::Table>::Call;
Platform::RegQueryValueExWFn CAdvapi32::RegQueryValueExW =
    &LazyStub<Platform::RegQueryValueExWFn, &CAdvapi32::RegQueryValueExW, &CAdvapi32::Table>::Call;
Platform::RegCloseKeyFn CAdvapi32::RegCloseKey =
    &LazyStub<Platform::RegCloseKeyFn, &CAdvapi32::RegCloseKey, &CAdvapi32::Table>::Call;

CLazyBindingTable& CAdvapi32::Table() {
    static const LazyBindingEntry entries[] = {
        LazyEntry<Platform::RegOpenKeyExWFn, &CAdvapi32::RegOpenKeyExW, 0x1LL>("RegOpenKeyExW"),
        LazyEntry<Platform::RegQueryValueExWFn, &CAdvapi32::RegQueryValueExW, 0x1LL>("RegQueryValueExW"),
        LazyEntry<Platform::RegCloseKeyFn, &CAdvapi32::RegCloseKey, 0x1LL>("RegCloseKey"),
    };
    static CLazyBindingTable table(u"advapi32.dll", entries, sizeof(entries) / sizeof(entries[0]));
    return table;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
