#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Product {

// The options of the commands. Parse throws std::invalid_argument naming the bad option.
class CServeOptions {
public:
    std::string StatePath;
    std::string ControlPath;
    bool LpcOnly = false;
    std::string Version;
    // What is left once the options are taken (the JSON line of ctl).
    std::vector<std::string> Positional;

    static CServeOptions Parse(const std::vector<std::string>& arguments,
                               const std::vector<std::string>& allowed);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
