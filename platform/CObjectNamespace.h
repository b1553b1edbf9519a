#pragma once

#include <sys/types.h>

#include <string>

#include "platform/NtTypes.h"

namespace Zun {
namespace Platform {

// The global kernel object namespace of the substitute: "\BaseNamedObjects\<name>", "Global\<name>"
// and "Local\<name>" all name the file <object root>/BaseNamedObjects/<name>.
class CObjectNamespace {
public:
    // Empty when the name is not a single plain component in one of those namespaces.
    static std::string PathOf(const std::string& name);
    static std::string PathOf(const WCHAR* name);
    static std::string PathOf(const UNICODE_STRING* name);
    static std::string Folder();
    // Servers: creates the folder (and the object root) owner-only where missing, and refuses it
    // unless it is ours and writable by us alone; reason, when given, says why. Clients never
    // create it.
    static bool EnsureFolder(std::string* reason = nullptr);
    // Clients: whether the folder and the object root belong to us or root and only their owner
    // may write them, so that nobody else can have put or swapped an object there.
    static bool IsFolderTrusted();
    // Objects of the current user and of root are trusted; any other owner may be squatting a name.
    static bool IsTrustedOwner(uid_t owner);
};

}  // namespace Platform
}  // namespace Zun
