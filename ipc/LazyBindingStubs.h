#pragma once

// The pieces every lazy binding table is made of: the stub a slot starts at, the fallbacks, and
// the entry that ties a name to its slot.

#include <type_traits>

#include "ipc/CLazyBindingTable.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

template <class Fn, Fn* Slot, CLazyBindingTable& (*Table)()>
struct LazyStub;

template <class R, class... A, R (**Slot)(A...), CLazyBindingTable& (*Table)()>
struct LazyStub<R (*)(A...), Slot, Table> {
    static R Call(A... arguments) {
        Table().Bind();
        return (*Slot)(arguments...);
    }
};

// Returns Value converted to the result type (null for pointers; nothing for void).
template <class Fn, long long Value>
struct LazyFallback;

template <class R, class... A, long long Value>
struct LazyFallback<R (*)(A...), Value> {
    static R Call(A...) {
        if constexpr (std::is_void<R>::value) {
            return;
        } else if constexpr (std::is_pointer<R>::value) {
            return nullptr;
        } else {
            return static_cast<R>(Value);
        }
    }
};

template <class Fn, Fn* Slot>
void StoreSlot(Platform::FARPROC address) {
    *Slot = reinterpret_cast<Fn>(address);
}

template <class Fn, Fn* Slot, long long Fallback>
LazyBindingEntry LazyEntry(const char* name) {
    return {name, &StoreSlot<Fn, Slot>,
            reinterpret_cast<Platform::FARPROC>(&LazyFallback<Fn, Fallback>::Call)};
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
