#include "platform/CObjectRoot.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

namespace {

const char* const kRootVariable = "QUIL_OBJECT_ROOT";
const char* const kRootOfRoot = "/run/quil";

// The variable's value, or null when it is unset or empty.
const char* Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string CObjectRoot::Path() {
    if (const char* root = Variable(kRootVariable)) {
        return root;
    }
    if (geteuid() == 0) {
        return kRootOfRoot;
    }
    if (const char* runtime = Variable("XDG_RUNTIME_DIR")) {
        return std::string(runtime) + "/quil";
    }
    return "/tmp/quil-" + std::to_string(geteuid());
}

std::string CObjectRoot::Origin() {
    if (Variable(kRootVariable) != nullptr) {
        return kRootVariable;
    }
    const std::string unset =
        std::string(kRootVariable) + (std::getenv(kRootVariable) != nullptr ? " is empty" : " is unset");
    if (geteuid() == 0) {
        return unset + ", default for root";
    }
    return unset + (Variable("XDG_RUNTIME_DIR") != nullptr ? ", under XDG_RUNTIME_DIR" : ", under /tmp");
}

std::string CObjectRoot::Ensure(const std::string& name) {
    const std::string root = Path();
    CTrustedPath::EnsureFolder(root);
    if (name.empty()) {
        return root;
    }
    const std::string folder = root + "/" + name;
    CTrustedPath::EnsureFolder(folder);
    return folder;
}

void CObjectRoot::Check() {
    CTrustedPath::CheckSharedFolder(Path());
}

}  // namespace Platform
}  // namespace Zun
