#pragma once

#include <cstddef>

namespace Zun {
namespace Platform {

// Keeps this process alive when the file under one of its read-only views shrinks. A Windows
// section never shrinks under a view; a file here can, and touching a page past its new end raises
// SIGBUS. A guarded view then reads as zeros from the fault on instead of the process dying, and its
// reader, finding no header there any more, closes it and opens the area anew. A SIGBUS that is not
// a fault in a guarded view goes on to whatever handled SIGBUS before; without such a handler a
// fault ends the process as it would have and a signal sent by kill is dropped. The guard stays
// installed for the life of the process.
class CViewGuard {
public:
    // Guards the view at base; false when no more views can be guarded.
    static bool Add(const void* base, std::size_t size);
    static void Remove(const void* base);
    // Views guarded at most at once; the module maps one per port client.
    static constexpr std::size_t kCapacity = 64;
};

}  // namespace Platform
}  // namespace Zun
