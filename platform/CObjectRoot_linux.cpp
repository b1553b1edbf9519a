#include "platform/CObjectRoot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace Zun {
namespace Platform {

std::string CObjectRoot::Path() {
    const char* root = std::getenv("QUIL_OBJECT_ROOT");
    if (root != nullptr && *root != '\0') {
        return root;
    }
    if (geteuid() == 0) {
        return "/run/quil";
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return std::string(runtime) + "/quil";
    }
    return "/tmp/quil-" + std::to_string(geteuid());
}

bool CObjectRoot::EnsureDirectory(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

}  // namespace Platform
}  // namespace Zun
