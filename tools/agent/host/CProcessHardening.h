#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's memory holds recovery passwords on their way to the store: no core dump may carry
// them to disk, and no other process of the same user may read them through a debugger.
class CProcessHardening {
public:
    // Empty when applied; otherwise what could not be done.
    static std::string Apply();
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
