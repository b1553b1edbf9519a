#include "platform/CKernel32Substitute.h"

#include <unistd.h>

#include <atomic>

#include "platform/CEvent.h"
#include "platform/CHandleTable.h"
#include "platform/CThread.h"

namespace Zun {
namespace Platform {

BOOL CKernel32Substitute::CloseHandle(HANDLE handle) {
    return CHandleTable::Close(handle) ? 1 : 0;
}

HANDLE CKernel32Substitute::CreateEventW(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState,
                                         const WCHAR* name) {
    // Named events are not needed by anything that runs on the substitute.
    if (name != nullptr) {
        return nullptr;
    }
    return CHandleTable::Insert(std::make_shared<CEvent>(manualReset != 0, initialState != 0));
}

HANDLE CKernel32Substitute::CreateThread(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE start,
                                         void* parameter, DWORD creationFlags, DWORD* threadId) {
    // Suspended creation would need ResumeThread, which the substitute does not offer.
    if (creationFlags != 0) {
        return nullptr;
    }
    std::shared_ptr<CThread> thread = CThread::Start(start, parameter);
    if (thread == nullptr) {
        return nullptr;
    }
    if (threadId != nullptr) {
        static std::atomic<DWORD> lastId{static_cast<DWORD>(getpid()) << 8};
        *threadId = ++lastId;
    }
    return CHandleTable::Insert(thread);
}

const SubstituteExport* CKernel32Substitute::Exports(std::size_t& count) {
    static const SubstituteExport exports[] = {
        {"CloseHandle", ExportOf<CloseHandleFn>(&CloseHandle)},
        {"CreateEventW", ExportOf<CreateEventWFn>(&CreateEventW)},
        {"CreateThread", ExportOf<CreateThreadFn>(&CreateThread)},
    };
    count = sizeof(exports) / sizeof(exports[0]);
    return exports;
}

}  // namespace Platform
}  // namespace Zun
