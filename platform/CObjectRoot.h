#pragma once

#include <string>

namespace Zun {
namespace Platform {

// The folder under which the Linux substitutes keep the named kernel objects and the registry:
// $QUIL_OBJECT_ROOT, else /run/quil for root, else $XDG_RUNTIME_DIR/quil. Shared by the module,
// the product stand-in and the host, which must agree on it.
class CObjectRoot {
public:
    static std::string Path();
    // Creates the folder and its parents owner-only (0700) where missing; returns false on failure.
    static bool EnsureDirectory(const std::string& path);
};

}  // namespace Platform
}  // namespace Zun
