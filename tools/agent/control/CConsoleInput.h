#pragma once

#include <memory>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// What `quil-agent run` waits for between tasks: bytes on standard input, its end, a request to
// stop (SIGINT or SIGTERM on Linux; Ctrl+C, Ctrl+Break or a closing console on Windows), or one to
// reopen the log file (SIGHUP, after the log was rotated; Linux only). Made
// before any other thread starts, so that a stop request never interrupts the module's threads.
class CConsoleInput {
public:
    enum class Event { Input, InputClosed, Stop, Reopen, Failed };

    CConsoleInput();
    ~CConsoleInput();
    CConsoleInput(const CConsoleInput&) = delete;
    CConsoleInput& operator=(const CConsoleInput&) = delete;

    // Empty when the stop requests are watched; otherwise why they cannot be.
    const std::string& SetupError() const { return m_setupError; }

    // Whether the end of standard input ends `quil-agent run`: on Windows a console agent is its
    // operator's and goes with its input; on Linux the control socket keeps taking tasks.
    static bool InputEndStopsRun();
    // A stop request from elsewhere (Windows' service manager), seen by Wait as Stop with reason.
    static void Interrupt(const char* reason);

    // Waits for the next event. Input appends what arrived to chunk; Stop and Failed describe
    // themselves in detail. Once Input has been closed, only Stop and Failed follow.
    Event Wait(std::string& chunk, std::string& detail);

    // What the platform's side shares with its helpers (on Windows, the input thread and the
    // console control handler).
    struct State;

private:
    std::shared_ptr<State> m_state;
    std::string m_setupError;
    bool m_inputOpen = true;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
