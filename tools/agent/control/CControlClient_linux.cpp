#include "tools/agent/control/CControlClient.h"
#include "tools/agent/control/PeerCredentials_linux.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "tools/common/PermissionHint.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

class CSocket {
public:
    CSocket() : fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~CSocket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    const int fd;
};

void Connect(const CSocket& s, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("Control socket path is too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (s.fd < 0 || connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const bool refused = errno == EACCES || errno == EPERM;
        throw std::runtime_error("No agent answers on " + path + ": " +
                                 (refused ? kPermissionHint : std::strerror(errno)));
    }
    // A task may wipe a password: it goes to an agent of this user only, never to whoever put a
    // socket (or a link to one) under the name.
    const long peer = PeerUid(s.fd);
    if (!IsOwnUser(peer)) {
        throw std::runtime_error("The control socket " + path + " is served by uid " + std::to_string(peer) +
                                 ", not by uid " + std::to_string(geteuid()) + "; the task was not sent");
    }
}

void SendAll(const CSocket& s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(s.fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error(std::string("The agent closed the control socket: ") +
                                     std::strerror(errno));
        }
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

std::string CControlClient::Send(const std::string& path, const std::string& line,
                                 std::chrono::milliseconds timeout) {
    if (line.find('\n') != std::string::npos) {
        throw std::runtime_error("A task must be one line");
    }
    CSocket s;
    Connect(s, path);
    SendAll(s, line + "\n");
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string reply;
    while (reply.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd = {s.fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            throw std::runtime_error("The agent did not answer in time");
        }
        char chunk[4096];
        const ssize_t got = read(s.fd, chunk, sizeof chunk);
        if (got <= 0) {
            throw std::runtime_error("The agent closed the control socket without an answer");
        }
        reply.append(chunk, static_cast<size_t>(got));
    }
    return reply.substr(0, reply.find('\n'));
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
