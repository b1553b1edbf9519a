// DecodeBase64 on any text. It either throws std::runtime_error or returns bytes that encode back to
// the canonical form of the input's data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "messages/Base64.h"

using Zun::Connectors::Common::DecodeBase64;
using Zun::Connectors::Common::EncodeBase64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string bytes;
    try {
        bytes = DecodeBase64(text);
    } catch (const std::runtime_error&) {
        return 0;
    }
    if (DecodeBase64(EncodeBase64(bytes)) != bytes) {
        std::abort();
    }
    return 0;
}
