#include "tools/product/CServeOptions.h"

#include <algorithm>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Product {

CServeOptions CServeOptions::Parse(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& allowed) {
    CServeOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            options.Positional.push_back(argument);
            continue;
        }
        if (std::find(allowed.begin(), allowed.end(), argument) == allowed.end()) {
            throw std::invalid_argument("unknown option " + argument);
        }
        if (argument == "--lpc-only") {
            options.LpcOnly = true;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            throw std::invalid_argument(argument + " needs a value");
        }
        const std::string& value = arguments[++i];
        // An empty value would silently stand for the default.
        if (value.empty()) {
            throw std::invalid_argument(argument + " needs a value");
        }
        if (argument == "--state") {
            options.StatePath = value;
        } else if (argument == "--control") {
            options.ControlPath = value;
        } else if (argument == "--version") {
            options.Version = value;
        }
    }
    return options;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
