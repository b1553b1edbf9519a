#include <limits.h>
#include <unistd.h>

#include <Poco/Path.h>

#include "tools/agent/CAgentOptions.h"

namespace Zun {
namespace Tools {
namespace Agent {

std::string CAgentOptions::DefaultControl(const std::string& databaseFolder) {
    return Poco::Path(Poco::Path(databaseFolder), "agent.sock").toString();
}

std::string CAgentOptions::DefaultModulePath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return "libquil_connector.so";
    }
    Poco::Path binary(std::string(self, static_cast<size_t>(length)));
    Poco::Path library(binary.parent());
    library.popDirectory();
    // The project's libraries are private: a folder of their own below lib/, as in /usr/lib/quil.
    library.pushDirectory("lib");
    library.pushDirectory("quil");
    library.setFileName("libquil_connector.so");
    return library.toString();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
