#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>

#include "tools/agent/control/CConsoleInput.h"

namespace Zun {
namespace Tools {
namespace Agent {

struct CConsoleInput::State {
    int signals = -1;
};

namespace {

constexpr size_t kChunk = 65536;

// SIGINT, SIGTERM and SIGHUP are taken from a signal descriptor by the main loop; every thread
// started later inherits the mask, so no signal handler ever runs inside the module.
int BlockWatchedSignals() {
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return signalfd(-1, &watched, SFD_CLOEXEC);
}

}  // namespace

bool CConsoleInput::InputEndStopsRun() {
    return false;
}

// The signal descriptor takes it as it takes a SIGTERM from outside.
void CConsoleInput::Interrupt(const char*) {
    kill(getpid(), SIGTERM);
}

CConsoleInput::CConsoleInput() : m_state(std::make_shared<State>()) {
    m_state->signals = BlockWatchedSignals();
    if (m_state->signals < 0) {
        m_setupError = std::string("cannot watch for signals: ") + std::strerror(errno);
    }
}

CConsoleInput::~CConsoleInput() {
    if (m_state->signals >= 0) {
        close(m_state->signals);
    }
}

CConsoleInput::Event CConsoleInput::Wait(std::string& chunk, std::string& detail) {
    while (true) {
        pollfd fds[2] = {{m_state->signals, POLLIN, 0}, {m_inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            detail = std::string("Cannot wait for input: ") + std::strerror(errno);
            return Event::Failed;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            const ssize_t got = read(m_state->signals, &info, sizeof info);
            if (got == sizeof info && info.ssi_signo == SIGHUP) {
                detail = "Reopening the log file on SIGHUP";
                return Event::Reopen;
            }
            detail =
                std::string("Stopping on ") + (got == sizeof info ? strsignal(info.ssi_signo) : "a signal");
            return Event::Stop;
        }
        if (fds[1].revents != 0) {
            char buffer[kChunk];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                m_inputOpen = false;
                return Event::InputClosed;
            }
            chunk.append(buffer, static_cast<size_t>(got));
            return Event::Input;
        }
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
