#include "tools/agent/host/CProductLocation.h"

namespace Zun {
namespace Tools {
namespace Agent {

std::string CProductLocation::Describe() {
    return "registry value HKEY_LOCAL_MACHINE\\Software\\VELM\\VELM Full Disk "
           "Encryption\\CurrentVersion\\Info"
           "\\ProductVersion";
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
