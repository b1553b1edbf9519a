#include "tests/support/CServerProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Zun {
namespace Testing {

namespace {

constexpr int kReadyTimeoutMs = 10000;
int g_readyPipe = -1;

}  // namespace

CServerProcess::CServerProcess(const std::function<void()>& body) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(fds[0]);
        g_readyPipe = fds[1];
        try {
            body();
        } catch (...) {
        }
        _exit(0);
    }
    close(fds[1]);
    pollfd ready = {fds[0], POLLIN, 0};
    char byte = 0;
    m_ready = m_pid > 0 && poll(&ready, 1, kReadyTimeoutMs) == 1 && read(fds[0], &byte, 1) == 1;
    close(fds[0]);
}

CServerProcess::~CServerProcess() { Kill(); }

void CServerProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

void CServerProcess::Ready() {
    const char byte = 1;
    if (write(g_readyPipe, &byte, 1) != 1) {
        _exit(1);
    }
}

}  // namespace Testing
}  // namespace Zun
