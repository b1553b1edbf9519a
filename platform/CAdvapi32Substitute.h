#pragma once

#include <cstddef>

#include "platform/NtFunctions.h"
#include "platform/SubstituteExport.h"

namespace Zun {
namespace Platform {

// The registry functions of advapi32, read-only, over the registry substitute (CRegistryKey).
class CAdvapi32Substitute {
public:
    static const SubstituteExport* Exports(std::size_t& count);

    static long RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, DWORD access, HKEY* result);
    static long RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                 std::uint8_t* data, DWORD* dataSize);
    static long RegCloseKey(HKEY key);
};

}  // namespace Platform
}  // namespace Zun
