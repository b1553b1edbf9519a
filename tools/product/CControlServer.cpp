#include "tools/product/CControlServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/product/CControlClient.h"
#include "tools/product/CProductLog.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

constexpr int kSliceMs = 200;
// A client that sends nothing for this long is dropped.
constexpr int kIdleMs = 5000;
// Owner-only: read and write for us, nothing for group or others.
constexpr mode_t kSocketUmask = 0177;

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return address;
}

}  // namespace

CControlServer::CControlServer(std::string path, CControlDispatcher& dispatcher)
    : m_path(std::move(path)), m_dispatcher(dispatcher) {}

CControlServer::~CControlServer() {
    Stop();
}

bool CControlServer::Start(std::string& error) {
    if (!CControlClient::FitsAddress(m_path)) {
        error = "control socket path is empty or too long: " + m_path;
        return false;
    }
    std::string answer;
    std::string ignored;
    if (CControlClient::Exchange(m_path, "{\"op\":\"ping\"}", answer, ignored, 1000)) {
        error = "another product already answers at " + m_path;
        return false;
    }
    struct stat existing {};
    if (lstat(m_path.c_str(), &existing) == 0 && !S_ISSOCK(existing.st_mode)) {
        error = m_path + " exists and is not a socket";
        return false;
    }
    unlink(m_path.c_str());
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(m_path);
    // The socket is born owner-only: with the umask's mode, another user could connect between
    // bind and a later chmod and keep that connection.
    const mode_t previous = umask(kSocketUmask);
    const bool bound = m_listener >= 0 &&
                       bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    umask(previous);
    if (!bound || listen(m_listener, 8) != 0) {
        error = "cannot listen on " + m_path + ": " + std::strerror(errno);
        if (m_listener >= 0) {
            close(m_listener);
            m_listener = -1;
        }
        return false;
    }
    m_thread = std::thread([this] { Loop(); });
    return true;
}

void CControlServer::Stop() {
    m_stopping = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listener >= 0) {
        close(m_listener);
        m_listener = -1;
        unlink(m_path.c_str());
    }
}

void CControlServer::Loop() {
    while (!m_stopping) {
        pollfd ready = {m_listener, POLLIN, 0};
        if (poll(&ready, 1, kSliceMs) != 1) {
            continue;
        }
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        uid_t peer = 0;
        if (client >= 0 && !CControlClient::IsTrustedPeer(client, peer)) {
            CProductLog::Warning("control client of uid " + std::to_string(peer) + " refused");
        } else if (client >= 0) {
            Serve(client);
        }
        if (client >= 0) {
            close(client);
        }
    }
}

bool CControlServer::SendLine(int client, const std::string& line) {
    const std::string text = line + "\n";
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t written = send(client, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
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

void CControlServer::Serve(int client) {
    std::string pending;
    char buffer[65536];
    int idleMs = 0;
    while (!m_stopping && idleMs < kIdleMs) {
        pollfd ready = {client, POLLIN, 0};
        if (poll(&ready, 1, kSliceMs) != 1) {
            idleMs += kSliceMs;
            continue;
        }
        const ssize_t got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return;
        }
        idleMs = 0;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.find_first_not_of(" \t\r") == std::string::npos) {
                continue;
            }
            const CControlDispatcher::Answer answer = m_dispatcher.Handle(line);
            if (!SendLine(client, answer.Line)) {
                return;
            }
            if (answer.After) {
                answer.After();
            }
        }
        if (pending.size() > kMaxLine) {
            CProductLog::Warning("control client dropped: line longer than 4 MiB");
            SendLine(client, "{\"ok\":false,\"error\":\"line too long\"}");
            return;
        }
    }
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
