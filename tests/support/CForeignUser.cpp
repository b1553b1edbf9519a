#include "tests/support/CForeignUser.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace Zun {
namespace Testing {

namespace {

const int kCannotBecome = 125;
const int kBodyThrew = 126;
const int kSignalBase = 128;

}  // namespace

bool CForeignUser::Become(uid_t uid) {
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0;
}

bool CForeignUser::IsAvailable() {
    return geteuid() == 0;
}

int CForeignUser::Run(uid_t uid, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0) {
        return kCannotBecome;
    }
    if (child == 0) {
        int code = kCannotBecome;
        if (Become(uid)) {
            try {
                code = body();
            } catch (...) {
                code = kBodyThrew;
            }
        }
        _exit(code);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? kSignalBase + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace Testing
}  // namespace Zun
