#include "platform/CViewGuard.h"

#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
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

bool IsHandler(const struct sigaction& action) {
    if ((action.sa_flags & SA_SIGINFO) != 0) {
        return action.sa_sigaction != nullptr;
    }
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

// Hands a SIGBUS that is not ours to the handler it was meant for, and otherwise does what would
// have happened without us. A SIGBUS of the kernel's (a fault outside our views) ends the process:
// the default action is put back and the signal raised again, to be delivered as we return. A
// SIGBUS that some process sent (kill, sigqueue) faults nothing; without a handler to pass it to it
// is dropped, and this handler stays in place, so no stray signal leaves the views unguarded.
void Forward(int signal, siginfo_t* info, void* context, bool fromKernel) {
    if (IsHandler(g_previous)) {
        if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
            g_previous.sa_sigaction(signal, info, context);
        } else {
            g_previous.sa_handler(signal);
        }
        return;
    }
    if (fromKernel) {
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(SIGBUS, &fallback, nullptr);
        raise(SIGBUS);
    }
}

// Zero pages in place of the whole view: the reader's pointers stay valid, what it reads is an
// area without a header, which the reader takes as the area gone (it closes the view and opens the
// area again), and no later access can fault again.
void OnBusError(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    // Only the kernel's report of an access past the end of a mapped file carries an address.
    const bool fault = info != nullptr && (info->si_code == BUS_ADRERR || info->si_code == BUS_OBJERR);
    if (fault) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        for (Slot& slot : g_slots) {
            const std::uintptr_t base = slot.base.load(std::memory_order_acquire);
            const std::size_t size = slot.size.load(std::memory_order_relaxed);
            if (base != 0 && address >= base && address - base < size) {
                void* zeros = mmap(reinterpret_cast<void*>(base), size, PROT_READ,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
                if (zeros != MAP_FAILED) {
                    errno = savedErrno;
                    return;
                }
                break;
            }
        }
    }
    Forward(signal, info, context, info == nullptr || info->si_code > 0);
    errno = savedErrno;
}

bool InstallHandler() {
    struct sigaction action = {};
    action.sa_sigaction = &OnBusError;
    // A stray SIGBUS may land on any thread; what it interrupts goes on.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
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
