#pragma once

#include "ipc/CLazyBindingTable.h"
#include "platform/NtFunctions.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The registry functions of advapi32, bound at first use. Each slot may be replaced (after Bind) to
// put something else in the system function's place.
class CAdvapi32 {
public:
    static CLazyBindingTable& Table();

    static Platform::RegOpenKeyExWFn RegOpenKeyExW;
    static Platform::RegQueryValueExWFn RegQueryValueExW;
    static Platform::RegCloseKeyFn RegCloseKey;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
