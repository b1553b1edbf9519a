#include "platform/DirectImports.h"

#include <cstdint>

#include "platform/CEvent.h"
#include "platform/CFileMapping.h"
#include "platform/CHandleTable.h"
#include "platform/CNamedMutex.h"
#include "platform/CObjectNamespace.h"
#include "platform/CSubstituteLoader.h"
#include "platform/CViewRegistry.h"

namespace Zun {
namespace Platform {

HMODULE LoadLibraryW(const WCHAR* name) {
    return CSubstituteLoader::Load(name);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    return CSubstituteLoader::Find(module, name);
}

BOOL SetEvent(HANDLE event) {
    std::shared_ptr<CEvent> found = CHandleTable::FindAs<CEvent>(event);
    if (found == nullptr) {
        return 0;
    }
    found->Set();
    return 1;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<CKernelObject> object = CHandleTable::Find(handle);
    return object == nullptr ? WAIT_FAILED : object->Wait(milliseconds);
}

HANDLE OpenMutexW(DWORD, BOOL, const WCHAR* name) {
    const std::string path = CObjectNamespace::PathOf(name);
    std::shared_ptr<CNamedMutex> mutex = path.empty() ? nullptr : CNamedMutex::Open(path);
    return mutex == nullptr ? nullptr : CHandleTable::Insert(mutex);
}

BOOL ReleaseMutex(HANDLE mutex) {
    std::shared_ptr<CNamedMutex> found = CHandleTable::FindAs<CNamedMutex>(mutex);
    return found != nullptr && found->Release() ? 1 : 0;
}

HANDLE OpenFileMappingW(DWORD access, BOOL, const WCHAR* name) {
    const std::string path = CObjectNamespace::PathOf(name);
    std::shared_ptr<CFileMapping> mapping =
        path.empty() || access != FILE_MAP_READ ? nullptr : CFileMapping::Open(path);
    return mapping == nullptr ? nullptr : CHandleTable::Insert(mapping);
}

void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    std::shared_ptr<CFileMapping> found = CHandleTable::FindAs<CFileMapping>(mapping);
    // Only whole read-only views are offered.
    if (found == nullptr || access != FILE_MAP_READ || offsetHigh != 0 || offsetLow != 0 || bytes != 0) {
        return nullptr;
    }
    return found->MapView();
}

BOOL UnmapViewOfFile(const void* base) {
    return CViewRegistry::Remove(const_cast<void*>(base)) ? 1 : 0;
}

SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* information, SIZE_T length) {
    void* base = nullptr;
    std::size_t size = 0;
    if (information == nullptr || length < sizeof(*information) ||
        !CViewRegistry::Query(address, base, size)) {
        return 0;
    }
    const std::size_t skipped = static_cast<const char*>(address) - static_cast<const char*>(base);
    information->BaseAddress = const_cast<void*>(address);
    information->AllocationBase = base;
    information->AllocationProtect = PAGE_READONLY;
    information->PartitionId = 0;
    information->RegionSize = size > skipped ? size - skipped : 0;  // a file view cut short of address
    information->State = MEM_COMMIT;
    information->Protect = PAGE_READONLY;
    information->Type = MEM_MAPPED;
    return sizeof(*information);
}

// Linux has no window messages: the wait is a wait on the one handle, and no message is ever queued.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds, DWORD) {
    if (count != 1 || handles == nullptr) {
        return WAIT_FAILED;
    }
    return WaitForSingleObject(handles[0], milliseconds);
}

BOOL PeekMessageW(MSG*, HWND, std::uint32_t, std::uint32_t, std::uint32_t) {
    return 0;
}

BOOL TranslateMessage(const MSG*) {
    return 0;
}

}  // namespace Platform
}  // namespace Zun
