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
        } catch (const std::runtime_error&) {
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
    } catch (const std::runtime_error&) {
        return 0;
    }
    ReadAll(container);
    std::string out;
    container.Serialize(out);
    container.GetSerializedSize();
    return 0;
}
