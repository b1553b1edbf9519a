#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

void CSecretWiper::Wipe(std::string& buffer) {
    // The whole capacity: a shorter value may have been assigned over a longer secret.
    buffer.resize(buffer.capacity());
    Wipe(&buffer[0], buffer.size());
    buffer.clear();
}

void CSecretWiper::Wipe(void* data, size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
