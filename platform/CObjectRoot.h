#pragma once

#include <string>

namespace Zun {
namespace Platform {

// The folder under which the Linux substitutes keep the named kernel objects and the registry:
// $QUIL_OBJECT_ROOT, else /run/quil for root, else $XDG_RUNTIME_DIR/quil, else /tmp/quil-<uid>.
// Shared by the module, the product stand-in and the host, which must agree on it.
//
// Whoever can write into it can replace or squat any object, so it must be ours (a server's) or
// root's (what an ordinary user's client opens of a product run as root), writable by its owner
// alone, and never reached through a symlink. Every refusal is a std::runtime_error naming the path
// and the reason.
class CObjectRoot {
public:
    // An empty QUIL_OBJECT_ROOT counts as unset, as the XDG base folder variables do; Origin says
    // which rule chose the path, so that the programs can say where they look.
    static std::string Path();
    static std::string Origin();

    // Servers: creates the root, and the folder name inside it when name is not empty, owner-only
    // where missing, then refuses them unless they are ours and private. Returns the folder.
    static std::string Ensure(const std::string& name = std::string());
    // Clients: refuses a root that is missing, a symlink, owned by another user than us or root, or
    // writable by group or others. Creates nothing.
    static void Check();
};

}  // namespace Platform
}  // namespace Zun
