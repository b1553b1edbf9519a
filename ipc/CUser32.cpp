#include "ipc/CUser32.h"

#include "ipc/LazyBindingStubs.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

Platform::DispatchMessageWFn CUser32::DispatchMessageW =
    &LazyStub<Platform::DispatchMessageWFn, &CUser32::DispatchMessageW, &CUser32::Table>::Call;

CLazyBindingTable& CUser32::Table() {
    static const LazyBindingEntry entries[] = {
        LazyEntry<Platform::DispatchMessageWFn, &CUser32::DispatchMessageW, 0>("DispatchMessageW"),
    };
    static CLazyBindingTable table(u"user32.dll", entries, sizeof(entries) / sizeof(entries[0]));
    return table;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
