#include "tools/agent/CControlServer.h"
#include "tools/agent/PeerCredentials_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef std::chrono::steady_clock Clock;

const char* const kSource = "CControlServer";
const int kLevelWarning = 3;
// What one read takes from a client.
constexpr size_t kChunk = 16384;

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
    std::list<Client> clients;
    while (true) {
        std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0},
                                   {clients.size() < kMaxClients ? m_listener : -1, POLLIN, 0}};
        for (const Client& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), PollTimeout(clients)) < 0 && errno != EINTR) {
            m_logger.Write(std::string("Control socket stopped: ") + std::strerror(errno), 4, kSource);
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        // Everything the clients sent since the last round is answered together.
        std::vector<Request> requests;
        auto polled = fds.begin() + 2;
        for (Client& client : clients) {
            if ((polled++)->revents != 0) {
                Read(client, requests);
            }
        }
        Answer(requests);
        const auto now = Clock::now();
        for (auto client = clients.begin(); client != clients.end();) {
            if (client->done || now - client->heard >= std::chrono::milliseconds(kIdleMilliseconds)) {
                close(client->fd);
                client = clients.erase(client);
            } else {
                ++client;
            }
        }
        if (fds[1].revents & POLLIN) {
            Accept(clients);
        }
    }
    for (const Client& client : clients) {
        close(client.fd);
    }
}

// The socket file is owner-only; root can connect all the same, and is refused like anyone else.
void CControlServer::Accept(std::list<Client>& clients) {
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    const long peer = PeerUid(fd);
    if (!IsOwnUser(peer)) {
        m_logger.Write("Refused a control connection from uid " + std::to_string(peer), kLevelWarning,
                       kSource);
        close(fd);
        return;
    }
    clients.emplace_back();
    clients.back().fd = fd;
    clients.back().heard = Clock::now();
}

// Takes the complete lines a client sent. A client that ends its connection still gets the answer
// to a last line without its line end; one whose line grows too long gets a refusal instead.
void CControlServer::Read(Client& client, std::vector<Request>& requests) {
    char chunk[kChunk];
    const ssize_t got = read(client.fd, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (got > 0) {
        client.buffer.append(chunk, static_cast<size_t>(got));
        client.heard = Clock::now();
    } else {
        client.done = true;
    }
    size_t start = 0;
    for (size_t end; (end = client.buffer.find('\n', start)) != std::string::npos; start = end + 1) {
        requests.push_back({&client, client.buffer.substr(start, end - start), false});
    }
    client.buffer.erase(0, start);
    if (client.buffer.size() > kMaxLine) {
        requests.push_back({&client, std::string(), true});
        client.done = true;
    } else if (client.done && !client.buffer.empty()) {
        requests.push_back({&client, client.buffer, false});
    }
    if (client.done) {
        client.buffer.clear();
    }
}

// One call of the handler for every line of the round; each client then gets its answers at once.
void CControlServer::Answer(const std::vector<Request>& requests) {
    std::vector<std::string> lines;
    for (const Request& request : requests) {
        if (!request.overlong) {
            lines.push_back(request.line);
        }
    }
    const std::vector<std::string> replies = lines.empty() ? lines : m_handler(lines);
    std::map<Client*, std::string> answers;
    size_t next = 0;
    for (const Request& request : requests) {
        std::string& text = answers[request.client];
        if (request.overlong) {
            text += "{\"ok\":false,\"error\":\"line longer than " + std::to_string(kMaxLine) + " bytes\"}\n";
        } else {
            text += (next < replies.size() ? replies[next]
                                           : std::string("{\"ok\":false,\"error\":\"no answer\"}")) +
                    "\n";
            ++next;
        }
    }
    for (auto& answer : answers) {
        Client& client = *answer.first;
        client.heard = Clock::now();
        if (!Reply(client.fd, answer.second)) {
            client.done = true;  // gone, or not taking its answers
        }
    }
}

int CControlServer::PollTimeout(const std::list<Client>& clients) {
    if (clients.empty()) {
        return -1;
    }
    auto first = clients.front().heard;
    for (const Client& client : clients) {
        first = std::min(first, client.heard);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          first + std::chrono::milliseconds(kIdleMilliseconds) - Clock::now())
                          .count();
    return static_cast<int>(std::max<long long>(0, left + 1));
}

// Sends the whole text within the idle time; false when the client is gone or does not take it.
bool CControlServer::Reply(int client, const std::string& text) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kIdleMilliseconds);
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(client, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd fd = {client, POLLOUT, 0};
        if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
    }
    return true;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
