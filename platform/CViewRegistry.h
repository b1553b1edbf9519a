#pragma once

#include <cstddef>

namespace Zun {
namespace Platform {

// The views the substitute has mapped into this process, so that unmapping and size queries work
// by base address as they do on Windows, and nothing else is ever unmapped.
class CViewRegistry {
public:
    static void Add(void* base, std::size_t size);
    // A view of a file, which unlike a section can be cut short under its readers: the registry
    // takes over file (a descriptor of its own, closed with the view) to tell the size it has now.
    static void AddFileView(void* base, std::size_t size, int file);
    // Unmaps the view that starts at base; false when there is none.
    static bool Remove(void* base);
    // The view that contains address: its base and size. A file view's size ends where its file
    // ends now, so a reader that asks after reading learns of a cut that faulted nothing (one
    // inside the view's last page reads as zeros).
    static bool Query(const void* address, void*& base, std::size_t& size);
    static std::size_t Count();
};

}  // namespace Platform
}  // namespace Zun
