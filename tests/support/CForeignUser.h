#pragma once

#include <sys/types.h>

#include <functional>

namespace Zun {
namespace Testing {

// Another local user, for tests that play an attacker or a victim: the body runs in a child process
// that has dropped every privilege to the user's uid and gid. Needs root; IsAvailable says whether
// the test may use it.
class CForeignUser {
public:
    static const uid_t kNobody = 65534;
    // A second unprivileged uid without a passwd entry, so that two foreign users can meet.
    static const uid_t kVictim = 64999;

    static bool IsAvailable();
    // The body's return value becomes the child's exit code; 125 when the child could not become
    // the user, 126 when the body threw, 128 + n when it died of signal n.
    static int Run(uid_t uid, const std::function<int()>& body);
    // Drops this process's groups, gid and uid to the user's for good; false when it could not.
    static bool Become(uid_t uid);
};

}  // namespace Testing
}  // namespace Zun
