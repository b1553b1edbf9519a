#include <signal.h>

#include <stdexcept>

#include "server/CServerApplication.h"

namespace Zun {
namespace Server {

// Blocked before any thread starts, so that every thread inherits the mask and only sigwait sees them.
void CServerApplication::BlockStopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) {
        throw std::runtime_error("cannot block SIGINT and SIGTERM");
    }
}

int CServerApplication::WaitForStop() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    int signal = 0;
    sigwait(&stop, &signal);
    return signal;
}

}  // namespace Server
}  // namespace Zun
