#pragma once

#include "ipc/CLazyBindingTable.h"
#include "platform/NtFunctions.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The user32 function that dispatches window messages, bound at first use. Each slot may be replaced (after
// Bind) to put something else in the system function's place.
class CUser32 {
public:
    static CLazyBindingTable& Table();

    static Platform::DispatchMessageWFn DispatchMessageW;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
