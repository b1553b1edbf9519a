#include "platform/CSubstituteLoader.h"

#include <cstring>
#include <string>

#include "platform/CAdvapi32Substitute.h"
#include "platform/CKernel32Substitute.h"
#include "platform/CNtdllSubstitute.h"

namespace Zun {
namespace Platform {

namespace {

const SubstituteExport* NoExports(std::size_t& count) {
    count = 0;
    return nullptr;
}

struct Library {
    const char* name;
    const SubstituteExport* (*exports)(std::size_t& count);
};

// user32 is there, but window messages are not: its functions fall back.
const Library kLibraries[] = {
    {"ntdll.dll", &CNtdllSubstitute::Exports},
    {"kernel32.dll", &CKernel32Substitute::Exports},
    {"advapi32.dll", &CAdvapi32Substitute::Exports},
    {"user32.dll", &NoExports},
};

std::string LowerNarrow(const WCHAR* name) {
    std::string narrow;
    for (std::size_t i = 0; name[i] != 0 && i < 260; ++i) {
        const WCHAR c = name[i];
        narrow += c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) : '?';
    }
    return narrow;
}

}  // namespace

HMODULE CSubstituteLoader::Load(const WCHAR* name) {
    if (name == nullptr) {
        return nullptr;
    }
    std::string wanted = LowerNarrow(name);
    if (wanted.find('.') == std::string::npos) {
        wanted += ".dll";
    }
    for (const Library& library : kLibraries) {
        if (wanted == library.name) {
            return const_cast<Library*>(&library);
        }
    }
    return nullptr;
}

FARPROC CSubstituteLoader::Find(HMODULE module, const char* name) {
    const Library* library = static_cast<const Library*>(module);
    if (library < kLibraries || library >= kLibraries + sizeof(kLibraries) / sizeof(kLibraries[0]) ||
        name == nullptr) {
        return nullptr;
    }
    std::size_t count = 0;
    const SubstituteExport* exports = library->exports(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (std::strcmp(exports[i].name, name) == 0) {
            return exports[i].address;
        }
    }
    return nullptr;
}

}  // namespace Platform
}  // namespace Zun
