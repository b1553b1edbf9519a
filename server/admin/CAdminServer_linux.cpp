#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "server/admin/CAdminServer.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

namespace {

const int kWarning = 2;
const int kError = 3;
const mode_t kSocketMode = 0660;
const int kBacklog = 8;
const size_t kMaxGroups = 1024;

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

bool SomeoneListens(const std::string& path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(path);
    const bool listens =
        probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) {
        close(probe);
    }
    return listens;
}

// The peer's primary and supplementary groups, as the kernel recorded them when it connected.
std::vector<gid_t> PeerGroups(int fd, gid_t primary) {
    std::vector<gid_t> groups(kMaxGroups);
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0) {
        length = 0;
    }
    groups.resize(length / sizeof(gid_t));
    groups.push_back(primary);
    return groups;
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

}  // namespace

CAdminServer::CAdminServer(std::string path, Handler handler, Log log, gid_t group)
    : m_path(std::move(path)), m_handler(std::move(handler)), m_log(std::move(log)), m_group(group) {}

CAdminServer::~CAdminServer() {
    Stop();
}

bool CAdminServer::MayUse(uid_t uid, const std::vector<gid_t>& groups, gid_t group) {
    return uid == 0 || uid == geteuid() || std::find(groups.begin(), groups.end(), group) != groups.end();
}

void CAdminServer::Start() {
    Bind();
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        throw SystemError("Cannot create the admin socket's wake pipe");
    }
    m_thread = boost::thread(&CAdminServer::Run, this);
}

void CAdminServer::Bind() {
    if (m_path.size() >= sizeof(sockaddr_un::sun_path)) {
        throw std::runtime_error("Admin socket path is too long: " + m_path);
    }
    if (SomeoneListens(m_path)) {
        throw std::runtime_error("Another server serves the admin socket " + m_path);
    }
    unlink(m_path.c_str());
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(m_path);
    // Never wider than the owner and the group, not even between bind and chmod.
    const mode_t mask = umask(0177);
    const bool bound =
        m_listener >= 0 && bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    umask(mask);
    if (!bound) {
        throw SystemError("Cannot make the admin socket " + m_path);
    }
    m_bound = true;
    if ((m_group != static_cast<gid_t>(-1) && chown(m_path.c_str(), static_cast<uid_t>(-1), m_group) != 0) ||
        chmod(m_path.c_str(), kSocketMode) != 0 || listen(m_listener, kBacklog) != 0) {
        throw SystemError("Cannot serve the admin socket " + m_path);
    }
    struct stat info;
    if (stat(m_path.c_str(), &info) != 0) {
        throw SystemError("Cannot read the admin socket " + m_path);
    }
    m_group = info.st_gid;
}

void CAdminServer::Stop() {
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
    if (m_bound) {
        unlink(m_path.c_str());
        m_bound = false;
    }
}

void CAdminServer::Run() {
    while (true) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            m_log(kError, std::string("Admin socket stopped: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            Serve(client);
            close(client);
        }
    }
}

void CAdminServer::Serve(int client) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        !MayUse(credentials.uid, PeerGroups(client, credentials.gid), m_group)) {
        m_log(kWarning, "Refused an admin connection from uid " + std::to_string(credentials.uid));
        Reply(client, "{\"ok\":false,\"error\":\"uid " + std::to_string(credentials.uid) +
                          " is neither root, the server's user nor in the admin socket's group\"}");
        return;
    }
    const CAdminCommands::Peer peer{static_cast<int64_t>(credentials.uid), UserName(credentials.uid)};
    std::string buffer;
    while (ReadMore(client, buffer)) {
        size_t end;
        while ((end = buffer.find('\n')) != std::string::npos) {
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            // A reveal's answer holds recovery passwords: gone from our memory once sent.
            std::string reply = m_handler(line, peer);
            Reply(client, reply);
            Tools::Agent::CSecretWiper::Wipe(reply);
        }
        if (buffer.size() > kMaxLine) {
            Reply(client,
                  "{\"ok\":false,\"error\":\"line longer than " + std::to_string(kMaxLine) + " bytes\"}");
            return;
        }
    }
}

bool CAdminServer::ReadMore(int client, std::string& buffer) {
    pollfd fds[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (poll(fds, 2, kIdleMilliseconds) <= 0 || fds[1].revents != 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t got = read(client, chunk, sizeof chunk);
    if (got <= 0) {
        return false;
    }
    buffer.append(chunk, static_cast<size_t>(got));
    return true;
}

void CAdminServer::Reply(int client, const std::string& text) {
    std::string line = text + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = send(client, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break;  // the client went away
        }
        sent += static_cast<size_t>(n);
    }
    Tools::Agent::CSecretWiper::Wipe(line);
}

}  // namespace Server
}  // namespace Zun
