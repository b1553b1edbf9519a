#include "tools/agent/control/CControlServer.h"

#include <Poco/UnicodeConverter.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/CSecurityDescriptor.h"

// One thread accepts clients of the pipe and one more thread serves each of them, up to
// kMaxClients. Every wait is overlapped and also ends on the stop event, so a client that goes
// quiet never holds up Stop. The handler is called by one client's thread at a time.
namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kSource = "CControlServer";
const int kLevelWarning = 3;
const char* const kPipePrefix = "\\\\.\\pipe\\";
const DWORD kChunk = 64 * 1024;

std::wstring Wide(const std::string& text) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF16(text, wide);
    return wide;
}

// Waits for an overlapped read, write or connect: false once it failed, timed out or the stop
// event was set (the operation is then cancelled and done with).
bool Complete(HANDLE pipe, OVERLAPPED& operation, BOOL started, HANDLE stop, DWORD timeout, DWORD& done) {
    done = 0;
    if (!started && ::GetLastError() != ERROR_IO_PENDING) {
        return ::GetLastError() == ERROR_PIPE_CONNECTED;
    }
    HANDLE events[] = {operation.hEvent, stop};
    if (::WaitForMultipleObjects(2, events, FALSE, timeout) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipe, &operation);
        ::GetOverlappedResult(pipe, &operation, &done, TRUE);
        return false;
    }
    return ::GetOverlappedResult(pipe, &operation, &done, FALSE) != FALSE;
}

class COperation {
public:
    COperation() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~COperation() { ::CloseHandle(m_event); }
    COperation(const COperation&) = delete;
    COperation& operator=(const COperation&) = delete;
    OVERLAPPED& Fresh() {
        m_overlapped = OVERLAPPED();
        m_overlapped.hEvent = m_event;
        ::ResetEvent(m_event);
        return m_overlapped;
    }

private:
    HANDLE m_event;
    OVERLAPPED m_overlapped = OVERLAPPED();
};

}  // namespace

struct CControlServer::Pipes {
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE waiting = INVALID_HANDLE_VALUE;  // the instance the next client connects to
    std::mutex lock;
    std::condition_variable changed;
    size_t clients = 0;
    std::mutex handling;

    ~Pipes() {
        if (waiting != INVALID_HANDLE_VALUE) {
            ::CloseHandle(waiting);
        }
        ::CloseHandle(stop);
    }
};

CControlServer::CControlServer(std::string path, Handler handler, Common::Kernel::ILoggerResource& logger)
    : m_path(std::move(path)), m_handler(std::move(handler)), m_logger(logger), m_pipes(new Pipes) {}

CControlServer::~CControlServer() {
    Stop();
}

bool CControlServer::IsAvailable() {
    return true;
}

size_t CControlServer::MaxPathLength() {
    return 256;
}

namespace {

// An instance of the pipe only SYSTEM and Administrators may open, for local clients only. The first
// must be the first of its name: a pipe someone made before the agent would otherwise get clients.
HANDLE CreateInstance(const std::string& name, bool first) {
    const Platform::CSecurityDescriptor descriptor = Platform::CSecurityDescriptor::AdministratorsOnly();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    return ::CreateNamedPipeW(
        Wide(name).c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kChunk, kChunk, 0, &attributes);
}

// Whether some process serves a pipe of the name already. FILE_FLAG_FIRST_PIPE_INSTANCE refuses
// it too, but not under Wine, which ignores the flag.
bool Served(const std::string& name) {
    return ::WaitNamedPipeW(Wide(name).c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

void CControlServer::Bind() {
    if (m_path.rfind(kPipePrefix, 0) != 0 || m_path.size() == std::string(kPipePrefix).size() ||
        m_path.size() > MaxPathLength()) {
        throw std::runtime_error(
            "The control channel on Windows is a named pipe \\\\.\\pipe\\NAME of at most " +
            std::to_string(MaxPathLength()) + " characters, not " + m_path);
    }
    m_pipes->waiting = Served(m_path) ? INVALID_HANDLE_VALUE : CreateInstance(m_path, true);
    if (m_pipes->waiting == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        throw std::runtime_error(error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY ||
                                         error == ERROR_SEM_TIMEOUT || error == ERROR_SUCCESS
                                     ? "Another agent serves the control pipe " + m_path
                                     : "Cannot serve the control pipe " + m_path + " (error " +
                                           std::to_string(error) + ")");
    }
    m_bound = true;
}

void CControlServer::Start() {
    if (!m_bound) {
        Bind();
    }
    m_thread = boost::thread(&CControlServer::Run, this);
}

void CControlServer::Stop() {
    ::SetEvent(m_pipes->stop);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    std::unique_lock<std::mutex> guard(m_pipes->lock);
    m_pipes->changed.wait(guard, [this] { return m_pipes->clients == 0; });
    // The name goes with the last instance: no client waits on a pipe that no one serves.
    if (m_pipes->waiting != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_pipes->waiting);
        m_pipes->waiting = INVALID_HANDLE_VALUE;
    }
    m_bound = false;
}

namespace {

// Serves one client until it leaves, goes quiet, sends an overlong line or the server stops.
void ServeClient(HANDLE pipe, HANDLE stop, const CControlServer::Handler& handler, std::mutex& handling,
                 Common::Kernel::ILoggerResource& logger) {
    COperation operation;
    std::string input;
    std::vector<char> chunk(kChunk);
    DWORD got = 0;
    for (;;) {
        OVERLAPPED& read = operation.Fresh();
        const BOOL started = ::ReadFile(pipe, chunk.data(), kChunk, nullptr, &read);
        if (!Complete(pipe, read, started, stop, CControlServer::kIdleMilliseconds, got) || got == 0) {
            break;
        }
        input.append(chunk.data(), got);
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(input.substr(start, end - start));
        }
        input.erase(0, start);
        std::string output;
        bool overlong = input.size() > CControlServer::kMaxLine;
        for (const std::string& line : lines) {
            overlong = overlong || line.size() > CControlServer::kMaxLine;
        }
        if (overlong) {
            output = "{\"ok\":false,\"error\":\"line longer than " +
                     std::to_string(CControlServer::kMaxLine) + " bytes\"}\n";
            logger.Write("Dropped a control client that sent an overlong line", kLevelWarning, kSource);
        } else if (!lines.empty()) {
            std::lock_guard<std::mutex> guard(handling);
            for (const std::string& answer : handler(lines)) {
                output += answer + "\n";
            }
        }
        if (!output.empty()) {
            DWORD written = 0;
            OVERLAPPED& write = operation.Fresh();
            const BOOL started =
                ::WriteFile(pipe, output.data(), static_cast<DWORD>(output.size()), nullptr, &write);
            if (!Complete(pipe, write, started, stop, CControlServer::kIdleMilliseconds, written) ||
                written != output.size()) {
                break;
            }
        }
        if (overlong) {
            break;
        }
    }
    // Closing without DisconnectNamedPipe leaves the last answers for the client to read.
    ::CloseHandle(pipe);
}

}  // namespace

void CControlServer::Run() {
    COperation operation;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(m_pipes->lock);
            m_pipes->changed.wait(guard, [this] {
                return m_pipes->clients < kMaxClients ||
                       ::WaitForSingleObject(m_pipes->stop, 0) == WAIT_OBJECT_0;
            });
        }
        HANDLE pipe = m_pipes->waiting;
        DWORD unused = 0;
        OVERLAPPED& connect = operation.Fresh();
        if (!Complete(pipe, connect, ::ConnectNamedPipe(pipe, &connect), m_pipes->stop, INFINITE, unused)) {
            if (::WaitForSingleObject(m_pipes->stop, 0) == WAIT_OBJECT_0) {
                return;
            }
            ::DisconnectNamedPipe(pipe);  // a client that left before it was taken
            continue;
        }
        m_pipes->waiting = CreateInstance(m_path, false);
        {
            std::lock_guard<std::mutex> guard(m_pipes->lock);
            ++m_pipes->clients;
        }
        std::shared_ptr<Pipes> pipes = m_pipes;
        std::thread([this, pipe, pipes] {
            ServeClient(pipe, pipes->stop, m_handler, pipes->handling, m_logger);
            std::lock_guard<std::mutex> guard(pipes->lock);
            --pipes->clients;
            pipes->changed.notify_all();
        }).detach();
        if (m_pipes->waiting == INVALID_HANDLE_VALUE) {
            m_logger.Write("Cannot make another instance of the control pipe (error " +
                               std::to_string(::GetLastError()) + "); no more clients are taken",
                           kLevelWarning, kSource);
            return;
        }
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
