// The directly imported system functions on Windows: each forwards to the real one. Our types have
// the same 64-bit layout as the system's, so only the pointer types need a cast.
#include "platform/DirectImports.h"

#include <windows.h>

namespace Zun {
namespace Platform {

namespace {

LPCWSTR Wide(const WCHAR* text) {
    return reinterpret_cast<LPCWSTR>(text);
}

::HANDLE System(HANDLE handle) {
    return static_cast<::HANDLE>(handle);
}

}  // namespace

HMODULE LoadLibraryW(const WCHAR* name) {
    return reinterpret_cast<HMODULE>(::LoadLibraryW(Wide(name)));
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<FARPROC>(::GetProcAddress(reinterpret_cast<::HMODULE>(module), name));
}

BOOL SetEvent(HANDLE event) {
    return ::SetEvent(System(event));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(System(handle), milliseconds);
}

HANDLE OpenMutexW(DWORD access, BOOL inherit, const WCHAR* name) {
    return ::OpenMutexW(access, inherit, Wide(name));
}

BOOL ReleaseMutex(HANDLE mutex) {
    return ::ReleaseMutex(System(mutex));
}

HANDLE OpenFileMappingW(DWORD access, BOOL inherit, const WCHAR* name) {
    return ::OpenFileMappingW(access, inherit, Wide(name));
}

void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    return ::MapViewOfFile(System(mapping), access, offsetHigh, offsetLow, bytes);
}

BOOL UnmapViewOfFile(const void* base) {
    return ::UnmapViewOfFile(base);
}

SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* information, SIZE_T length) {
    static_assert(sizeof(MEMORY_BASIC_INFORMATION) == sizeof(::MEMORY_BASIC_INFORMATION),
                  "MEMORY_BASIC_INFORMATION layout");
    return ::VirtualQuery(address, reinterpret_cast<::PMEMORY_BASIC_INFORMATION>(information), length);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask) {
    return ::MsgWaitForMultipleObjects(count, reinterpret_cast<const ::HANDLE*>(handles), waitAll,
                                       milliseconds, wakeMask);
}

BOOL PeekMessageW(MSG* message, HWND window, std::uint32_t filterMin, std::uint32_t filterMax,
                  std::uint32_t removeMessage) {
    static_assert(sizeof(MSG) == sizeof(::MSG), "MSG layout");
    return ::PeekMessageW(reinterpret_cast<::LPMSG>(message), static_cast<::HWND>(window), filterMin,
                          filterMax, removeMessage);
}

BOOL TranslateMessage(const MSG* message) {
    return ::TranslateMessage(reinterpret_cast<const ::MSG*>(message));
}

}  // namespace Platform
}  // namespace Zun
