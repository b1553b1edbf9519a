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
    // Creates the folder owner-only where missing (servers only; clients never create it).
    static bool EnsureFolder();
    // Objects of the current user and of root are trusted; any other owner may be squatting a name.
    static bool IsTrustedOwner(uid_t owner);
};

}  // namespace Platform
}  // namespace Zun
