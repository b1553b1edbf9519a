#include "server/api/CLinkRuntime.h"

#include <absl/synchronization/mutex.h>

namespace Zun {
namespace Server {

void CLinkRuntime::Prepare() {
    absl::SetMutexDeadlockDetectionMode(absl::OnDeadlockCycle::kIgnore);
}

}  // namespace Server
}  // namespace Zun
