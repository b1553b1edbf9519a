#pragma once

#include "ipc/CLazyBindingTable.h"
#include "platform/NtFunctions.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The kernel32 functions for handles, events and threads, bound at first use. Each slot may be replaced
// (after Bind) to put something else in the system function's place.
class CKernel32 {
public:
    static CLazyBindingTable& Table();

    static Platform::CloseHandleFn CloseHandle;
    static Platform::CreateEventWFn CreateEventW;
    static Platform::CreateEventAFn CreateEventA;
    static Platform::CreateThreadFn CreateThread;
    static Platform::ResumeThreadFn ResumeThread;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
