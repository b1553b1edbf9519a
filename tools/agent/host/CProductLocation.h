#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// Where the module looks for the product, for messages that say it was not found there.
class CProductLocation {
public:
    // Linux: the object root and why it was taken; Windows: the registry value.
    static std::string Describe();
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
