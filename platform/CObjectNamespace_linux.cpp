#include "platform/CObjectNamespace.h"

#include <unistd.h>

#include <stdexcept>

#include "platform/CObjectRoot.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

namespace {

const char* const kFolderName = "BaseNamedObjects";
const char* const kPrefixes[] = {"\\BaseNamedObjects\\", "Global\\", "Local\\"};

bool IsPlainComponent(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 200) {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\\' || c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// Object names are ASCII in practice; anything else is refused rather than guessed at.
std::string Narrow(const WCHAR* text, std::size_t length) {
    std::string narrow;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == 0 || text[i] > 0x7E) {
            return std::string();
        }
        narrow += static_cast<char>(text[i]);
    }
    return narrow;
}

}  // namespace

std::string CObjectNamespace::Folder() {
    return CObjectRoot::Path() + "/" + kFolderName;
}

std::string CObjectNamespace::PathOf(const std::string& name) {
    for (const char* prefix : kPrefixes) {
        const std::string start(prefix);
        if (name.compare(0, start.size(), start) == 0) {
            const std::string rest = name.substr(start.size());
            return IsPlainComponent(rest) ? Folder() + "/" + rest : std::string();
        }
    }
    return std::string();
}

std::string CObjectNamespace::PathOf(const WCHAR* name) {
    if (name == nullptr) {
        return std::string();
    }
    std::size_t length = 0;
    while (name[length] != 0 && length < 1024) {
        ++length;
    }
    return PathOf(Narrow(name, length));
}

std::string CObjectNamespace::PathOf(const UNICODE_STRING* name) {
    if (name == nullptr || name->Buffer == nullptr || name->Length % 2 != 0) {
        return std::string();
    }
    return PathOf(Narrow(name->Buffer, name->Length / 2));
}

bool CObjectNamespace::EnsureFolder(std::string* reason) {
    try {
        CObjectRoot::Ensure(kFolderName);
        return true;
    } catch (const std::runtime_error& e) {
        if (reason != nullptr) {
            *reason = e.what();
        }
        return false;
    }
}

bool CObjectNamespace::IsFolderTrusted() {
    try {
        CObjectRoot::Check();
        CTrustedPath::CheckSharedFolder(Folder());
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool CObjectNamespace::IsTrustedOwner(uid_t owner) {
    return owner == 0 || owner == geteuid();
}

}  // namespace Platform
}  // namespace Zun
