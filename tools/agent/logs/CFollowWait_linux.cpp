#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>

#include "tools/agent/logs/CFollowWait.h"

namespace Zun {
namespace Tools {
namespace Agent {

struct CFollowWait::State {
    int signals = -1;
};

CFollowWait::CFollowWait() : m_state(std::make_shared<State>()) {
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigprocmask(SIG_BLOCK, &watched, nullptr);
    signal(SIGPIPE, SIG_IGN);
    m_state->signals = signalfd(-1, &watched, SFD_CLOEXEC);
    if (m_state->signals < 0) {
        m_setupError = std::string("cannot watch for signals: ") + std::strerror(errno);
    }
}

CFollowWait::~CFollowWait() {
    if (m_state->signals >= 0) {
        close(m_state->signals);
    }
}

// Standard output is polled for no event at all: poll reports POLLERR on a pipe's writing end once
// nobody can read it any more, and nothing on a terminal or a file.
CFollowWait::Event CFollowWait::Wait(std::chrono::milliseconds interval) {
    pollfd fds[2] = {{m_state->signals, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
    const int ready = poll(fds, 2, static_cast<int>(interval.count()));
    if (ready <= 0) {
        return Event::Due;
    }
    if (fds[0].revents & POLLIN) {
        return Event::Stop;
    }
    return fds[1].revents & (POLLERR | POLLHUP) ? Event::OutputClosed : Event::Due;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
