#pragma once

#include <sys/types.h>

#include <functional>

namespace Zun {
namespace Testing {

// A server in a child process. The child runs body, which calls Ready() once it serves; the parent
// waits for that (with a deadline) and kills the child when the object goes away.
class CServerProcess {
public:
    explicit CServerProcess(const std::function<void()>& body);
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    bool IsReady() const { return m_ready; }
    pid_t Pid() const { return m_pid; }
    void Kill();
    // In the child: tells the parent that the server is up.
    static void Ready();

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace Testing
}  // namespace Zun
