#include "platform/CViewGuard.h"

#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace Zun {
namespace Platform {

constexpr std::size_t CViewGuard::kCapacity;

namespace {

// Read by the signal handler, so plain atomics in a fixed table: no lock, no allocation. A slot is
// free while its base is 0; its size is stored before its base is published.
struct Slot {
    std::atomic<std::uintptr_t> base{0};
    std::atomic<std::size_t> size{0};
};

Slot g_slots[CViewGuard::kCapacity];
struct sigaction g_previous;

// Hands a fault that is not ours to the handler it was meant for. With none, the default action is
// restored and the faulting access, run again on return, ends the process as it would have.
void Forward(int signal, siginfo_t* info, void* context) {
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

// Zero pages in place of the whole view: the reader's pointers stay valid, what it reads is an
// area that says nothing, and no later access can fault again.
void OnBusError(int signal, siginfo_t* info, void* context) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        const std::uintptr_t base = slot.base.load(std::memory_order_acquire);
        const std::size_t size = slot.size.load(std::memory_order_relaxed);
        if (base != 0 && address >= base && address - base < size) {
            void* zeros = mmap(reinterpret_cast<void*>(base), size, PROT_READ,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (zeros != MAP_FAILED) {
                return;
            }
            break;
        }
    }
    Forward(signal, info, context);
}

bool InstallHandler() {
    struct sigaction action = {};
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &g_previous) == 0;
}

}  // namespace

bool CViewGuard::Add(const void* base, std::size_t size) {
    static const bool installed = InstallHandler();
    if (!installed || base == nullptr || size == 0) {
        return false;
    }
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(base);
    for (Slot& slot : g_slots) {
        std::uintptr_t expected = 0;
        // Claimed with a marker that no view has, then published with its size in place.
        if (slot.base.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
            slot.size.store(size, std::memory_order_relaxed);
            slot.base.store(address, std::memory_order_release);
            return true;
        }
    }
    return false;
}

void CViewGuard::Remove(const void* base) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(base);
    for (Slot& slot : g_slots) {
        std::uintptr_t expected = address;
        if (address != 0 && slot.base.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) {
            return;
        }
    }
}

}  // namespace Platform
}  // namespace Zun
