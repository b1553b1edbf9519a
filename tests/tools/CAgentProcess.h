#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace Zun {
namespace Testing {

// A quil-agent process with pipes on its standard streams. Every wait has a deadline and waits on
// the pipes themselves, so tests never sleep. The process is killed if it is still running when
// the object goes away.
class CAgentProcess {
public:
    CAgentProcess(const std::string& binary, const std::vector<std::string>& arguments);
    ~CAgentProcess();
    CAgentProcess(const CAgentProcess&) = delete;
    CAgentProcess& operator=(const CAgentProcess&) = delete;

    void WriteInput(const std::string& text);
    void CloseInput();
    void Signal(int number);
    // True once the text has appeared on standard error (or output).
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit code, or -1 when the process did not end in time (it is killed then) or died of a signal.
    int WaitForExit(std::chrono::milliseconds timeout);

    pid_t Pid() const { return m_pid; }
    const std::string& Output() const { return m_output; }
    const std::string& Errors() const { return m_errors; }

    // Runs a short command to its end; returns its exit code.
    static int Run(const std::string& binary, const std::vector<std::string>& arguments, std::string& output,
                   std::string& errors, std::chrono::milliseconds timeout);

private:
    bool WaitFor(const std::string& text, const std::string& stream, std::chrono::milliseconds timeout);
    // Reads what is there until the deadline; false when both pipes reached their end.
    bool Pump(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_input = -1;
    int m_outputPipe = -1;
    int m_errorPipe = -1;
    std::string m_output;
    std::string m_errors;
};

}  // namespace Testing
}  // namespace Zun
