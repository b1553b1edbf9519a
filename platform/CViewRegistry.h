#pragma once

#include <cstddef>

namespace Zun {
namespace Platform {

// The views the substitute has mapped into this process, so that unmapping and size queries work
// by base address as they do on Windows, and nothing else is ever unmapped.
class CViewRegistry {
public:
    static void Add(void* base, std::size_t size);
    // Unmaps the view that starts at base; false when there is none.
    static bool Remove(void* base);
    // The view that contains address: its base and size.
    static bool Query(const void* address, void*& base, std::size_t& size);
    static std::size_t Count();
};

}  // namespace Platform
}  // namespace Zun
