#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "server/admin/CAdminClient.h"

namespace Zun {
namespace Server {

namespace {

class CSocket {
public:
    CSocket() : m_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~CSocket() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

std::string CAdminClient::Request(const std::string& line) const {
    CSocket client;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("Admin socket path is too long: " + m_path);
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    if (client.Get() < 0 ||
        connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("No server answers on " + m_path + ": " + std::strerror(errno));
    }
    // A server that refuses us answers at once and closes, maybe before our request is sent: its
    // answer is read all the same.
    const std::string request = line + "\n";
    const bool sent = send(client.Get(), request.data(), request.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(request.size());
    const std::string sendError = sent ? std::string() : std::string(": ") + std::strerror(errno);
    std::string answer;
    char chunk[4096];
    while (answer.find('\n') == std::string::npos) {
        pollfd fd{client.Get(), POLLIN, 0};
        const ssize_t got =
            poll(&fd, 1, kTimeoutMilliseconds) > 0 ? read(client.Get(), chunk, sizeof chunk) : -1;
        if (got <= 0) {
            throw std::runtime_error("The server on " + m_path + " did not answer" + sendError);
        }
        answer.append(chunk, static_cast<size_t>(got));
    }
    return answer.substr(0, answer.find('\n'));
}

}  // namespace Server
}  // namespace Zun
