#pragma once

#include <cstddef>

#include "platform/NtTypes.h"

namespace Zun {
namespace Platform {

// One function a substitute library offers to GetProcAddress.
struct SubstituteExport {
    const char* name;
    FARPROC address;
};

template <class Fn>
FARPROC ExportOf(Fn function) {
    return reinterpret_cast<FARPROC>(function);
}

}  // namespace Platform
}  // namespace Zun
