#pragma once

// The system functions that are imported directly rather than bound at run time. On Linux they are
// the substitute's own.

#include "platform/NtTypes.h"

namespace Zun {
namespace Platform {

HMODULE LoadLibraryW(const WCHAR* name);
FARPROC GetProcAddress(HMODULE module, const char* name);

BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HANDLE OpenMutexW(DWORD access, BOOL inherit, const WCHAR* name);
BOOL ReleaseMutex(HANDLE mutex);
HANDLE OpenFileMappingW(DWORD access, BOOL inherit, const WCHAR* name);
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(const void* base);
SIZE_T VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* information, SIZE_T length);

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask);
BOOL PeekMessageW(MSG* message, HWND window, std::uint32_t filterMin, std::uint32_t filterMax,
                  std::uint32_t removeMessage);
BOOL TranslateMessage(const MSG* message);

}  // namespace Platform
}  // namespace Zun
