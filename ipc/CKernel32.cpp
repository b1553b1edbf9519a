#include "ipc/CKernel32.h"

#include "ipc/LazyBindingStubs.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

Platform::CloseHandleFn CKernel32::CloseHandle =
    &LazyStub<Platform::CloseHandleFn, &CKernel32::CloseHandle, &CKernel32::Table>::Call;
Platform::CreateEventWFn CKernel32::CreateEventW =
    &LazyStub<Platform::CreateEventWFn, &CKernel32::CreateEventW, &CKernel32::Table>::Call;
Platform::CreateEventAFn CKernel32::CreateEventA =
    &LazyStub<Platform::CreateEventAFn, &CKernel32::CreateEventA, &CKernel32::Table>::Call;
Platform::CreateThreadFn CKernel32::CreateThread =
    &LazyStub<Platform::CreateThreadFn, &CKernel32::CreateThread, &CKernel32::Table>::Call;
Platform::ResumeThreadFn CKernel32::ResumeThread =
    &LazyStub<Platform::ResumeThreadFn, &CKernel32::ResumeThread, &CKernel32::Table>::Call;

CLazyBindingTable& CKernel32::Table() {
    static const LazyBindingEntry entries[] = {
        LazyEntry<Platform::CloseHandleFn, &CKernel32::CloseHandle, 0>("CloseHandle"),
        LazyEntry<Platform::CreateEventWFn, &CKernel32::CreateEventW, 0>("CreateEventW"),
        LazyEntry<Platform::CreateEventAFn, &CKernel32::CreateEventA, 0>("CreateEventA"),
        LazyEntry<Platform::CreateThreadFn, &CKernel32::CreateThread, 0>("CreateThread"),
        LazyEntry<Platform::ResumeThreadFn, &CKernel32::ResumeThread, 0xFFFFFFFFLL>("ResumeThread"),
    };
    static CLazyBindingTable table(u"kernel32.dll", entries, sizeof(entries) / sizeof(entries[0]));
    return table;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
