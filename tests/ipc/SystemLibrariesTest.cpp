// The binding tables and the LPC client's worker hand-over against the real system libraries of
// Windows (or Wine), where no substitute stands in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ipc/CAdvapi32.h"
#include "ipc/CKernel32.h"
#include "ipc/CNtdll.h"
#include "ipc/CPixlinkClientNt.h"
#include "ipc/CUser32.h"
#include "tests/ipc/CSlotOverride.h"
#include "tests/ipc/IpcIds.h"

#include <windows.h>

namespace Zun {
namespace IpcTest {
namespace {

using namespace Connectors::Common::Pixlink;

constexpr Platform::NTSTATUS kUnsuccessful = static_cast<Platform::NTSTATUS>(0xC0000001);

struct Binding {
    const char* library;
    const char* name;
    CLazyBindingTable& (*table)();
    std::function<Platform::FARPROC()> slot;
    // Calls the slot with harmless arguments and returns its result; only called when the system
    // lacks the function, so the fallback answers.
    std::function<long long()> callFallback;
};

template <class Fn>
std::function<Platform::FARPROC()> SlotOf(Fn& slot) {
    return [&slot] { return reinterpret_cast<Platform::FARPROC>(slot); };
}

std::vector<Binding> Bindings() {
    return {
        {"ntdll.dll", "NtConnectPort", &CNtdll::Table, SlotOf(CNtdll::NtConnectPort),
         [] {
             return CNtdll::NtConnectPort(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr);
         }},
        {"ntdll.dll", "NtSecureConnectPort", &CNtdll::Table, SlotOf(CNtdll::NtSecureConnectPort),
         [] {
             return CNtdll::NtSecureConnectPort(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                nullptr, nullptr);
         }},
        {"ntdll.dll", "NtRequestPort", &CNtdll::Table, SlotOf(CNtdll::NtRequestPort),
         [] { return CNtdll::NtRequestPort(nullptr, nullptr); }},
        {"ntdll.dll", "NtRequestWaitReplyPort", &CNtdll::Table, SlotOf(CNtdll::NtRequestWaitReplyPort),
         [] { return CNtdll::NtRequestWaitReplyPort(nullptr, nullptr, nullptr); }},
        {"ntdll.dll", "NtAlpcConnectPort", &CNtdll::Table, SlotOf(CNtdll::NtAlpcConnectPort),
         [] {
             return CNtdll::NtAlpcConnectPort(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr);
         }},
        {"ntdll.dll", "NtAlpcSendWaitReceivePort", &CNtdll::Table, SlotOf(CNtdll::NtAlpcSendWaitReceivePort),
         [] {
             return CNtdll::NtAlpcSendWaitReceivePort(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                      nullptr);
         }},
        {"ntdll.dll", "NtAlpcDisconnectPort", &CNtdll::Table, SlotOf(CNtdll::NtAlpcDisconnectPort),
         [] { return CNtdll::NtAlpcDisconnectPort(nullptr, 0); }},
        {"ntdll.dll", "NtAlpcCreatePortSection", &CNtdll::Table, SlotOf(CNtdll::NtAlpcCreatePortSection),
         [] { return CNtdll::NtAlpcCreatePortSection(nullptr, 0, nullptr, 0, nullptr, nullptr); }},
        {"ntdll.dll", "NtAlpcCreateSectionView", &CNtdll::Table, SlotOf(CNtdll::NtAlpcCreateSectionView),
         [] { return CNtdll::NtAlpcCreateSectionView(nullptr, 0, nullptr); }},
        {"ntdll.dll", "NtAlpcDeleteSectionView", &CNtdll::Table, SlotOf(CNtdll::NtAlpcDeleteSectionView),
         [] { return CNtdll::NtAlpcDeleteSectionView(nullptr, 0, nullptr); }},
        {"ntdll.dll", "NtAlpcDeletePortSection", &CNtdll::Table, SlotOf(CNtdll::NtAlpcDeletePortSection),
         [] { return CNtdll::NtAlpcDeletePortSection(nullptr, 0, nullptr); }},
        {"ntdll.dll", "AlpcInitializeMessageAttribute", &CNtdll::Table,
         SlotOf(CNtdll::AlpcInitializeMessageAttribute),
         [] { return CNtdll::AlpcInitializeMessageAttribute(0, nullptr, 0, nullptr); }},
        {"ntdll.dll", "AlpcGetMessageAttribute", &CNtdll::Table, SlotOf(CNtdll::AlpcGetMessageAttribute),
         [] { return reinterpret_cast<long long>(CNtdll::AlpcGetMessageAttribute(nullptr, 0)); }},
        {"kernel32.dll", "CloseHandle", &CKernel32::Table, SlotOf(CKernel32::CloseHandle),
         [] { return CKernel32::CloseHandle(nullptr); }},
        {"kernel32.dll", "CreateEventW", &CKernel32::Table, SlotOf(CKernel32::CreateEventW),
         [] { return reinterpret_cast<long long>(CKernel32::CreateEventW(nullptr, 0, 0, nullptr)); }},
        {"kernel32.dll", "CreateThread", &CKernel32::Table, SlotOf(CKernel32::CreateThread),
         [] {
             return reinterpret_cast<long long>(
                 CKernel32::CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr));
         }},
        {"kernel32.dll", "ResumeThread", &CKernel32::Table, SlotOf(CKernel32::ResumeThread),
         [] { return static_cast<long long>(CKernel32::ResumeThread(nullptr)); }},
        {"user32.dll", "DispatchMessageW", &CUser32::Table, SlotOf(CUser32::DispatchMessageW),
         [] { return CUser32::DispatchMessageW(nullptr); }},
        {"advapi32.dll", "RegOpenKeyExW", &CAdvapi32::Table, SlotOf(CAdvapi32::RegOpenKeyExW),
         [] { return static_cast<long long>(CAdvapi32::RegOpenKeyExW(nullptr, nullptr, 0, 0, nullptr)); }},
        {"advapi32.dll", "RegQueryValueExW", &CAdvapi32::Table, SlotOf(CAdvapi32::RegQueryValueExW),
         [] {
             return static_cast<long long>(
                 CAdvapi32::RegQueryValueExW(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
         }},
        {"advapi32.dll", "RegCloseKey", &CAdvapi32::Table, SlotOf(CAdvapi32::RegCloseKey),
         [] { return static_cast<long long>(CAdvapi32::RegCloseKey(nullptr)); }},
    };
}

// What the fallback of each function answers when the system lacks it.
long long FallbackOf(const std::string& name) {
    if (name.rfind("Nt", 0) == 0 || name == "AlpcInitializeMessageAttribute") {
        return kUnsuccessful;
    }
    if (name == "ResumeThread") {
        return 0xFFFFFFFFll;
    }
    if (name.rfind("Reg", 0) == 0) {
        return 1;
    }
    return 0;
}

TEST(SystemLibrariesTest, EverySlotHoldsTheSystemFunctionOrItsFallback) {
    int missing = 0;
    for (const Binding& binding : Bindings()) {
        binding.table().Bind();
        const HMODULE library = ::GetModuleHandleA(binding.library) != nullptr
                                    ? ::GetModuleHandleA(binding.library)
                                    : ::LoadLibraryA(binding.library);
        ASSERT_NE(nullptr, library) << binding.library;
        const FARPROC system = ::GetProcAddress(library, binding.name);
        if (system != nullptr) {
            EXPECT_EQ(reinterpret_cast<Platform::FARPROC>(system), binding.slot()) << binding.name;
        } else {
            ++missing;
            EXPECT_EQ(FallbackOf(binding.name), binding.callFallback()) << binding.name;
        }
    }
    std::cout << missing << " of " << Bindings().size() << " functions are missing and fall back\n";
}

TEST(SystemLibrariesTest, LpcRequestFailsWhereThePortCannotBeReached) {
    CPixlinkClientNt<Platform::ULONG64> client;
    for (std::uint32_t flags : {0u, 2u}) {
        ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, flags));
        std::uint8_t reply[16];
        EXPECT_EQ(1u, client.Request(0, 3, nullptr, 0, reply, sizeof reply, nullptr, 0)) << "flags " << flags;
    }
    client.Close();
}

// The LPC exchange with Init flag bit 1: it runs on a worker while the caller keeps dispatching
// window messages. The fake exchange posts a message to a window of the caller's thread and answers
// only once the window has received it.
std::atomic<bool> g_dispatched{false};
std::atomic<HWND> g_window{nullptr};
std::thread::id g_exchangeThread;

LRESULT CALLBACK RecordingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        g_dispatched = true;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

Platform::NTSTATUS ConnectAnyway(Platform::HANDLE* port, Platform::UNICODE_STRING*,
                                 Platform::SECURITY_QUALITY_OF_SERVICE*, void*, void*, void*,
                                 Platform::ULONG*, void*, Platform::ULONG*) {
    *port = reinterpret_cast<Platform::HANDLE>(static_cast<std::uintptr_t>(0x7777));
    return 0;
}

Platform::NTSTATUS AnswerOnceDispatched(Platform::HANDLE, Platform::PORT_MESSAGE*,
                                        Platform::PORT_MESSAGE* reply) {
    g_exchangeThread = std::this_thread::get_id();
    ::PostMessageW(g_window.load(), WM_APP, 0, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!g_dispatched && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    std::memset(reinterpret_cast<std::uint8_t*>(reply) + 40, 0, 8);  // result 0, no reply bytes
    reply->u1.s1.DataLength = 8;
    reply->u1.s1.TotalLength = 48;
    return 0;
}

Platform::BOOL CloseNothing(Platform::HANDLE) {
    return 1;
}

TEST(SystemLibrariesTest, WorkerThreadFlagKeepsTheCallerDispatchingWindowMessages) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &RecordingWindow;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuilPumpTest";
    ASSERT_NE(0, ::RegisterClassW(&windowClass));
    g_window = ::CreateWindowExW(0, L"QuilPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, g_window.load());
    CSlotOverride<Platform::NtSecureConnectPortFn> connect(CNtdll::Table(), CNtdll::NtSecureConnectPort,
                                                           &ConnectAnyway);
    CSlotOverride<Platform::NtRequestWaitReplyPortFn> exchange(
        CNtdll::Table(), CNtdll::NtRequestWaitReplyPort, &AnswerOnceDispatched);
    CSlotOverride<Platform::CloseHandleFn> close(CKernel32::Table(), CKernel32::CloseHandle, &CloseNothing);
    {
        CPixlinkClientNt<Platform::ULONG64> client;
        ASSERT_EQ(0u, client.Init(kLocalId, kRemoteId, 2));
        std::uint8_t reply[16];
        std::uint64_t length = 99;
        EXPECT_EQ(0u, client.Request(0, 3, nullptr, 0, reply, sizeof reply, &length, 0));
        EXPECT_EQ(0u, length);
        EXPECT_TRUE(g_dispatched) << "the caller dispatched the message while it waited";
        EXPECT_NE(std::this_thread::get_id(), g_exchangeThread);
        client.Close();
    }
    ::DestroyWindow(g_window.load());
    ::UnregisterClassW(L"QuilPumpTest", windowClass.hInstance);
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
