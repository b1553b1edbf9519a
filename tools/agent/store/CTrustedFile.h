#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// What a reader checks before trusting a file it did not make (see CTrustedPath::OpenTrustedFile).
class CTrustedFile {
public:
    // Throws std::runtime_error naming the path and the reason when the file is a symlink, not a
    // regular file, not ours or root's, has other names, or can be written by group or others.
    static void Check(const std::string& path);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
