#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "platform/NtTypes.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// One function of a lazily bound library: its name, how to store an address in its slot, and what
// the slot gets when the library or the name is missing.
struct LazyBindingEntry {
    const char* name;
    void (*store)(Platform::FARPROC address);
    Platform::FARPROC fallback;
};

// The lazy binding table of one system library. Every slot of the library starts out at a stub
// that binds the whole table once and then calls through the slot, so nothing is resolved that is
// never called, and a missing library or function makes its calls fail with the fallback's
// ordinary error result instead of stopping the process.
class CLazyBindingTable {
public:
    CLazyBindingTable(const Platform::WCHAR* library, const LazyBindingEntry* entries, std::size_t count);

    // Loads the library (once: a module handle with every bit set means not tried yet) and fills
    // every slot with the found address or its fallback.
    void Bind();
    bool IsBound() const { return m_done.load(std::memory_order_acquire); }
    Platform::HMODULE Module() const { return m_module; }

    static Platform::HMODULE NotTried() {
        return reinterpret_cast<Platform::HMODULE>(~static_cast<std::uintptr_t>(0));
    }

private:
    const Platform::WCHAR* m_library;
    const LazyBindingEntry* m_entries;
    std::size_t m_count;
    Platform::HMODULE m_module;
    std::atomic<bool> m_done;
    std::mutex m_lock;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
