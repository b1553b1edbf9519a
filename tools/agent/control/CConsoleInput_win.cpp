#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "tools/agent/control/CConsoleInput.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Standard input is read on a thread of its own, since a console or pipe handle cannot be waited
// on together with a stop request; the thread is left to the process's end, as a blocking read
// cannot be called off.
struct CConsoleInput::State {
    std::mutex lock;
    std::condition_variable changed;
    std::string input;
    bool inputClosed = false;
    const char* stopReason = nullptr;
};

namespace {

constexpr DWORD kChunk = 4096;

std::shared_ptr<CConsoleInput::State>& Watched() {
    static std::shared_ptr<CConsoleInput::State> state;
    return state;
}

const char* ReasonOf(DWORD controlType) {
    switch (controlType) {
        case CTRL_C_EVENT:
            return "Ctrl+C";
        case CTRL_BREAK_EVENT:
            return "Ctrl+Break";
        case CTRL_CLOSE_EVENT:
            return "the console closing";
        default:
            return "a shutdown";
    }
}

bool RequestStop(const char* reason) {
    std::shared_ptr<CConsoleInput::State> state = std::atomic_load(&Watched());
    if (state == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->stopReason = reason;
    }
    state->changed.notify_all();
    return true;
}

BOOL WINAPI OnControl(DWORD controlType) {
    return RequestStop(ReasonOf(controlType)) ? TRUE : FALSE;
}

void ReadInput(std::shared_ptr<CConsoleInput::State> state) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    char buffer[kChunk];
    DWORD got = 0;
    while (input != nullptr && input != INVALID_HANDLE_VALUE &&
           ::ReadFile(input, buffer, kChunk, &got, nullptr) && got > 0) {
        {
            std::lock_guard<std::mutex> guard(state->lock);
            state->input.append(buffer, got);
        }
        state->changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->inputClosed = true;
    }
    state->changed.notify_all();
}

}  // namespace

CConsoleInput::CConsoleInput() : m_state(std::make_shared<State>()) {
    std::atomic_store(&Watched(), m_state);
    if (!::SetConsoleCtrlHandler(&OnControl, TRUE)) {
        m_setupError = "cannot watch for Ctrl+C (error " + std::to_string(::GetLastError()) + ")";
    }
    std::thread(&ReadInput, m_state).detach();
}

bool CConsoleInput::InputEndStopsRun() {
    return true;
}

void CConsoleInput::Interrupt(const char* reason) {
    RequestStop(reason);
}

CConsoleInput::~CConsoleInput() {
    ::SetConsoleCtrlHandler(&OnControl, FALSE);
    std::atomic_store(&Watched(), std::shared_ptr<State>());
}

CConsoleInput::Event CConsoleInput::Wait(std::string& chunk, std::string& detail) {
    const std::shared_ptr<State>& state = m_state;
    std::unique_lock<std::mutex> guard(state->lock);
    state->changed.wait(guard, [&] {
        return state->stopReason != nullptr || !state->input.empty() || (m_inputOpen && state->inputClosed);
    });
    if (state->stopReason != nullptr) {
        detail = std::string("Stopping on ") + state->stopReason;
        return Event::Stop;
    }
    if (!state->input.empty()) {
        chunk += state->input;
        state->input.clear();
        return Event::Input;
    }
    m_inputOpen = false;
    return Event::InputClosed;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
