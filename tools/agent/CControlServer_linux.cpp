#include "tools/agent/CControlServer.h"
#include "tools/agent/PeerCredentials_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kSource = "CControlServer";
const int kLevelWarning = 3;

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// True when an agent answers on the socket; false for a leftover file of one that died.
bool SomeoneListens(const std::string& path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const sockaddr_un address = Address(path);
    const bool listens = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return listens;
}

}  // namespace

CControlServer::CControlServer(std::string path, Handler handler, Common::Kernel::ILoggerResource& logger)
    : m_path(std::move(path)), m_handler(std::move(handler)), m_logger(logger) {}

CControlServer::~CControlServer() {
    Stop();
}

bool CControlServer::IsAvailable() {
    return true;
}

size_t CControlServer::MaxPathLength() {
    return sizeof(sockaddr_un::sun_path) - 1;
}

void CControlServer::Start() {
    if (!m_bound) {
        Bind();
    }
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        throw SystemError("Cannot create the control socket's wake pipe");
    }
    m_thread = boost::thread(&CControlServer::Run, this);
}

void CControlServer::Bind() {
    if (m_path.size() > MaxPathLength()) {
        throw std::runtime_error("Control socket path is longer than " + std::to_string(MaxPathLength()) +
                                 " bytes: " + m_path);
    }
    if (SomeoneListens(m_path)) {
        throw std::runtime_error("Another agent serves the control socket " + m_path);
    }
    unlink(m_path.c_str());
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(m_path);
    // Only the agent's owner may hand it tasks: the mask applies to the socket file bind creates.
    const mode_t mask = umask(0077);
    const bool bound =
        m_listener >= 0 && bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    umask(mask);
    if (!bound || listen(m_listener, 8) != 0) {
        throw SystemError("Cannot serve the control socket " + m_path);
    }
    m_bound = true;
}

void CControlServer::Stop() {
    if (m_thread.joinable()) {
        const char stop = 's';
        if (write(m_wake[1], &stop, 1) < 0) {
            m_thread.interrupt();
        }
        m_thread.join();
    }
    for (int* fd : {&m_listener, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    // Only our own socket file goes: a refused start must not remove another agent's.
    if (m_bound) {
        unlink(m_path.c_str());
        m_bound = false;
    }
}

void CControlServer::Run() {
    while (true) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            m_logger.Write(std::string("Control socket stopped: ") + std::strerror(errno), 4, kSource);
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                ServeOwnUser(client);
                close(client);
            }
        }
    }
}

// The socket file is owner-only; root can connect all the same, and is refused like anyone else.
void CControlServer::ServeOwnUser(int client) {
    const long peer = PeerUid(client);
    if (!IsOwnUser(peer)) {
        m_logger.Write("Refused a control connection from uid " + std::to_string(peer), kLevelWarning,
                       kSource);
        return;
    }
    Serve(client);
}

void CControlServer::Serve(int client) {
    std::string buffer;
    while (ReadMore(client, buffer)) {
        size_t end;
        while ((end = buffer.find('\n')) != std::string::npos) {
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            Reply(client, m_handler(line));
        }
        if (buffer.size() > kMaxLine) {
            Reply(client,
                  "{\"ok\":false,\"error\":\"line longer than " + std::to_string(kMaxLine) + " bytes\"}");
            return;
        }
    }
    // A last request without its line end still gets its answer.
    if (!buffer.empty() && buffer.size() <= kMaxLine) {
        Reply(client, m_handler(buffer));
    }
}

bool CControlServer::ReadMore(int client, std::string& buffer) {
    pollfd fds[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int ready = poll(fds, 2, kIdleMilliseconds);
    if (ready <= 0 || fds[1].revents != 0) {
        return false;  // idle too long, or the agent stops
    }
    char chunk[4096];
    const ssize_t got = read(client, chunk, sizeof chunk);
    if (got <= 0) {
        return false;
    }
    buffer.append(chunk, static_cast<size_t>(got));
    return true;
}

void CControlServer::Reply(int client, const std::string& text) {
    const std::string line = text + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = send(client, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;  // the client went away; nothing to tell it
        }
        sent += static_cast<size_t>(n);
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
