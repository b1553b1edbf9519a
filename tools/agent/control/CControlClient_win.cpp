#include "tools/agent/control/CControlClient.h"

#include <Poco/UnicodeConverter.h>
#include <windows.h>

#include <stdexcept>

#include "platform/CSecurityDescriptor.h"
#include "tools/common/PermissionHint.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kLocalSystem = "S-1-5-18";

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF16(text, wide);
    return wide;
}

class CPipe {
public:
    explicit CPipe(HANDLE handle) : m_handle(handle) {}
    ~CPipe() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(m_handle);
        }
    }
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

DWORD Remaining(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

// The pipe opened for identification only: the agent may learn who sends, never act as the sender.
HANDLE Open(const std::string& path, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const HANDLE pipe =
            ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            return pipe;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_BUSY && Remaining(deadline) > 0 &&
            ::WaitNamedPipeW(Wide(path).c_str(), Remaining(deadline))) {
            continue;
        }
        throw std::runtime_error(
            "No agent answers on " + path + ": " +
            (error == ERROR_ACCESS_DENIED ? std::string(kPermissionHint) : "error " + std::to_string(error)));
    }
}

std::string ServerUser(HANDLE pipe) {
    ULONG process = 0;
    return ::GetNamedPipeServerProcessId(pipe, &process)
               ? Platform::CSecurityDescriptor::ProcessUserSid(process)
               : std::string();
}

// A task may wipe a password: it goes to an agent of this user or of LocalSystem (the service) only,
// never to whoever made a pipe of that name first.
void CheckServer(HANDLE pipe, const std::string& path) {
    const std::string server = ServerUser(pipe);
    const std::string own = Platform::CSecurityDescriptor::CurrentUserSid();
    if (server.empty()) {
        throw std::runtime_error("Cannot tell who serves the control pipe " + path + " (error " +
                                 std::to_string(::GetLastError()) + "); the task was not sent");
    }
    if (server != own && server != kLocalSystem) {
        throw std::runtime_error("The control pipe " + path + " is served by " + server + ", not by " + own +
                                 " or " + kLocalSystem + "; the task was not sent");
    }
}

// One overlapped read or write, waited for until the deadline.
bool Transfer(HANDLE pipe, bool write, char* data, DWORD size, std::chrono::steady_clock::time_point deadline,
              DWORD& done) {
    OVERLAPPED operation = OVERLAPPED();
    operation.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const BOOL started = write ? ::WriteFile(pipe, data, size, nullptr, &operation)
                               : ::ReadFile(pipe, data, size, nullptr, &operation);
    bool finished = started || ::GetLastError() == ERROR_IO_PENDING;
    if (finished && ::WaitForSingleObject(operation.hEvent, Remaining(deadline)) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipe, &operation);
        finished = false;
    }
    finished = ::GetOverlappedResult(pipe, &operation, &done, TRUE) && finished;
    ::CloseHandle(operation.hEvent);
    return finished;
}

}  // namespace

std::string CControlClient::Send(const std::string& path, const std::string& line,
                                 std::chrono::milliseconds timeout) {
    if (line.find('\n') != std::string::npos) {
        throw std::runtime_error("A task must be one line");
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    CPipe pipe(Open(path, deadline));
    CheckServer(pipe.Get(), path);
    std::string request = line + "\n";
    DWORD done = 0;
    if (!Transfer(pipe.Get(), true, &request[0], static_cast<DWORD>(request.size()), deadline, done) ||
        done != request.size()) {
        throw std::runtime_error("The agent closed the control pipe: error " +
                                 std::to_string(::GetLastError()));
    }
    std::string reply;
    char chunk[4096];
    while (reply.find('\n') == std::string::npos) {
        if (Remaining(deadline) == 0) {
            throw std::runtime_error("The agent did not answer in time");
        }
        if (!Transfer(pipe.Get(), false, chunk, sizeof chunk, deadline, done) || done == 0) {
            if (Remaining(deadline) == 0) {
                throw std::runtime_error("The agent did not answer in time");
            }
            throw std::runtime_error("The agent closed the control pipe without an answer");
        }
        reply.append(chunk, done);
    }
    return reply.substr(0, reply.find('\n'));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
