#pragma once

#include <cstddef>

#include "platform/NtFunctions.h"
#include "platform/SubstituteExport.h"

namespace Zun {
namespace Platform {

// The kernel32 functions the module binds at run time: handles, events and threads.
class CKernel32Substitute {
public:
    static const SubstituteExport* Exports(std::size_t& count);

    static BOOL CloseHandle(HANDLE handle);
    static HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                               const WCHAR* name);
    static HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize,
                               LPTHREAD_START_ROUTINE start, void* parameter, DWORD creationFlags,
                               DWORD* threadId);
};

}  // namespace Platform
}  // namespace Zun
