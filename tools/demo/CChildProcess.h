#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Demo {

typedef std::chrono::steady_clock::time_point Deadline;

inline Deadline After(std::chrono::milliseconds timeout) {
    return std::chrono::steady_clock::now() + timeout;
}

// A program run as a child with its standard streams on pipes. What it writes is kept in memory
// and, when a copy file is given, appended to that file as it arrives. The child is killed when
// the object goes away and also when this process dies (PR_SET_PDEATHSIG), so neither a failed
// test nor an interrupted demo leaves it behind.
class CChildProcess {
public:
    CChildProcess(const std::vector<std::string>& argv, const std::string& copyFile = "");
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    bool IsRunning() const { return m_pid > 0; }
    void WriteInput(const std::string& text);
    void CloseInput();
    void Signal(int number);
    // The exit code once the child has ended; -1 when it was killed by a signal or did not end in time.
    int WaitForExit(Deadline deadline);

    const std::string& Output() const { return m_output; }
    const std::string& Errors() const { return m_errors; }

    // Waits until condition holds, reading the pipes of every child meanwhile: whatever a child
    // writes wakes the wait, and the condition is tested again then, or after a short while at most.
    // False when the deadline passed or an interrupt was requested (see RequestInterrupt).
    static bool WaitUntil(const std::vector<CChildProcess*>& children, const std::function<bool()>& condition,
                          Deadline deadline);
    // Runs a short command to its end, input on its standard input; its exit code, -1 on a deadline.
    static int Run(const std::vector<std::string>& argv, std::string& output, Deadline deadline,
                   const std::string& input = std::string());
    // Called from a signal handler: every wait returns false from now on.
    static void RequestInterrupt();
    static bool Interrupted();

private:
    // Reads what the pipes hold after a wait of at most until; false when nothing is left open.
    static bool Pump(const std::vector<CChildProcess*>& children, Deadline until);
    void Read(int& fd, std::string& into);

    pid_t m_pid = -1;
    int m_input = -1;
    int m_outputPipe = -1;
    int m_errorPipe = -1;
    int m_copy = -1;
    std::string m_output;
    std::string m_errors;
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
