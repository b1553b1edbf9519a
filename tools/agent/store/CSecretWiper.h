#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// Overwrites buffers that held a recovery secret before they are released, so that freed heap pages
// and core dumps keep no copy. Writes through a volatile pointer so the compiler cannot drop them.
class CSecretWiper {
public:
    static void Wipe(std::string& buffer);
    static void Wipe(void* data, size_t size);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
