#pragma once

namespace Zun {
namespace Tools {

// What the command-line tools say when the system refuses them a file or socket of the agent's: the
// packaged agent keeps its state owner-only, so the usual cause is running as another user.
const char* const kPermissionHint = "permission denied; run as root or the agent's user";

}  // namespace Tools
}  // namespace Zun
