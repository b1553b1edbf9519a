// The packed symbol format as it arrives from outside. Bad bytes end in std::runtime_error; bytes
// that unpack must pack again, and packing what that unpacks to must give the same bytes. Bytes rather
// than Equals, because a NaN double never equals itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "logs/CSymbolContainer.h"

using Zun::Common::Logs::CSymbolContainer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CSymbolContainer container;
    try {
        container.DeserializePacked(reinterpret_cast<const char*>(data), size);
    } catch (const std::runtime_error&) {
        return 0;
    }
    std::string packed;
    try {
        packed = container.SerializePacked(container.GetPackedSize());
    } catch (const std::runtime_error&) {
        // Some values unpack but cannot be packed again (a time outside the calendar); that is a
        // refusal, not a fault.
        return 0;
    }
    CSymbolContainer again;
    again.DeserializePacked(packed);
    if (again.SerializePacked(again.GetPackedSize()) != packed) {
        std::abort();
    }
    return 0;
}
