#pragma once

#include "platform/SubstituteExport.h"

namespace Zun {
namespace Platform {

// "Loading a library" on Linux: finds the substitute's table of a system library by name. Names the
// substitute lacks are not found, so their callers fall back instead of failing the process.
class CSubstituteLoader {
public:
    // Null for a library the substitute does not provide.
    static HMODULE Load(const WCHAR* name);
    static FARPROC Find(HMODULE module, const char* name);
};

}  // namespace Platform
}  // namespace Zun
