#include "tools/product/CControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/CObjectNamespace.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

class CSocket {
public:
    CSocket() : m_fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~CSocket() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t written = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool CControlClient::FitsAddress(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un::sun_path);
}

bool CControlClient::IsTrustedPeer(int fd, uid_t& peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
        return false;
    }
    peer = credentials.uid;
    return Platform::CObjectNamespace::IsTrustedOwner(peer);
}

bool CControlClient::Exchange(const std::string& path, const std::string& line, std::string& answer,
                              std::string& error, int timeoutMs) {
    if (!FitsAddress(path)) {
        error = "control socket path is empty or too long: " + path;
        return false;
    }
    CSocket socket;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (socket.Fd() < 0 ||
        connect(socket.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        error = "cannot reach the product at " + path + ": " + std::strerror(errno);
        return false;
    }
    uid_t peer = 0;
    if (!IsTrustedPeer(socket.Fd(), peer)) {
        error = path + ": answered by uid " + std::to_string(peer) + ", neither us nor root; nothing sent";
        return false;
    }
    if (!WriteAll(socket.Fd(), line + "\n")) {
        error = "cannot send to the product";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    answer.clear();
    char buffer[4096];
    while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready = {socket.Fd(), POLLIN, 0};
        const int polled = left.count() <= 0 ? 0 : poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled != 1) {
            error = "the product did not answer in time";
            return false;
        }
        const ssize_t got = recv(socket.Fd(), buffer, sizeof(buffer), 0);
        if (got <= 0) {
            error = "the product closed the connection without an answer";
            return false;
        }
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    answer.resize(answer.find('\n'));
    return true;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
