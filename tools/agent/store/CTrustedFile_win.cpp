#include <io.h>

#include "platform/CTrustedPath.h"
#include "tools/agent/store/CTrustedFile.h"

namespace Zun {
namespace Tools {
namespace Agent {

void CTrustedFile::Check(const std::string& path) {
    _close(Platform::CTrustedPath::OpenTrustedFile(path));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
