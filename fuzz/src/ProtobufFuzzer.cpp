// LogSymbolContainer bytes, as a log carries them, through Deserialize. Whatever the verdict, the
// symbols taken must be readable and serialize again.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "logs/CSymbolContainer.h"

using Zun::Common::Logs::CSymbolContainer;

namespace {

// Every symbol read back by position, the way the log formatter walks a container.
void ReadAll(const CSymbolContainer& container) {
    for (std::size_t i = 0; i < container.GetCount(); ++i) {
        try {
            container.GetSymbolAt(i);
        } catch (const std::exception&) {
        }
        container.HasSymbol(container.GetSymbolIdAt(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CSymbolContainer container;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        container.Deserialize(bytes);
    } catch (const std::exception&) {
        // The container's own errors and those of the date and UUID libraries reach the caller
        // unchanged (bad_month, for one, is an out_of_range); the symbols taken before stay.
    }
    ReadAll(container);
    std::string out;
    container.Serialize(out);
    container.GetSerializedSize();
    return 0;
}
