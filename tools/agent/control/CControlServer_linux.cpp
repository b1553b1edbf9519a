#include "tools/agent/control/CControlServer.h"
#include "tools/agent/control/PeerCredentials_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "platform/CTrustedPath.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kSource = "CControlServer";
using Clock = std::chrono::steady_clock;
const int kLevelWarning = 3;
// What one read takes from a client; many task lines fit, so that they are stored together.
const size_t kChunk = 64 * 1024;

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
    // In a folder others may write, another user could remove the socket and serve one of her own
    // at its name, taking the tasks meant for the agent.
    Platform::CTrustedPath::CheckPlacement(m_path);
    if (SomeoneListens(m_path)) {
        throw std::runtime_error("Another agent serves the control socket " + m_path);
    }
    unlink(m_path.c_str());
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

struct CControlServer::Client {
    int fd;
    std::string input;
    std::string output;  // answers the client has not taken yet
    bool closing;        // nothing more is read: what is queued goes out, then the client is closed
    bool ended;          // the client sent all it will send: the rest of its input is its last line
    Clock::time_point deadline;
};

void CControlServer::Run() {
    std::vector<Client> clients;
    std::vector<pollfd> fds;
    while (true) {
        fds.assign({{m_wake[0], POLLIN, 0},
                    {m_listener, static_cast<short>(clients.size() < kMaxClients ? POLLIN : 0), 0}});
        std::int64_t timeout = -1;
        const Clock::time_point now = Clock::now();
        for (const Client& client : clients) {
            // A client's next lines wait until it has taken its answers.
            const short events = !client.output.empty() ? POLLOUT : client.closing ? 0 : POLLIN;
            fds.push_back({client.fd, events, 0});
            const std::int64_t left = std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(client.deadline - now).count());
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        if (poll(fds.data(), fds.size(), static_cast<int>(timeout)) < 0 && errno != EINTR) {
            m_logger.Write(std::string("Control socket stopped: ") + std::strerror(errno), 4, kSource);
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        Serve(clients, fds);
        if ((fds[1].revents & POLLIN) != 0) {
            Accept(clients);
        }
    }
    for (const Client& client : clients) {
        close(client.fd);
    }
}

// One round: read what came, answer every whole line of every client in one handler call (so
// their tasks are stored together), hand out what the clients take now, drop those done with.
void CControlServer::Serve(std::vector<Client>& clients, const std::vector<pollfd>& fds) {
    std::vector<bool> keep(clients.size(), true);
    for (size_t i = 0; i < clients.size(); ++i) {
        const short events = fds[i + 2].revents;
        if (events != 0) {
            keep[i] = clients[i].output.empty() ? Receive(clients[i]) : Flush(clients[i]);
        }
        Client& client = clients[i];
        if (keep[i] && Clock::now() >= client.deadline) {
            // Quiet too long: a last request without its line end still gets its answer (one more
            // period to take it); an answer left untaken drops the client.
            keep[i] = client.output.empty() && !client.closing && !client.input.empty();
            if (keep[i]) {
                client.ended = true;
                client.deadline = Clock::now() + std::chrono::milliseconds(kIdleMilliseconds);
            }
        }
    }
    AnswerAll(clients, keep);
    std::vector<Client> kept;
    for (size_t i = 0; i < clients.size(); ++i) {
        if (keep[i] && Flush(clients[i])) {
            kept.push_back(std::move(clients[i]));
        } else {
            close(clients[i].fd);
        }
    }
    clients.swap(kept);
}

// The socket file is owner-only; root can connect all the same, and is refused like anyone else.
void CControlServer::Accept(std::vector<Client>& clients) {
    while (clients.size() < kMaxClients) {
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        const long peer = PeerUid(fd);
        if (!IsOwnUser(peer)) {
            m_logger.Write("Refused a control connection from uid " + std::to_string(peer), kLevelWarning,
                           kSource);
            close(fd);
            continue;
        }
        clients.push_back(Client{fd, std::string(), std::string(), false, false,
                                 Clock::now() + std::chrono::milliseconds(kIdleMilliseconds)});
    }
}

// Reads what the client sent; false once it is gone.
bool CControlServer::Receive(Client& client) {
    char chunk[kChunk];
    const ssize_t got = read(client.fd, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    if (got <= 0) {
        // The client is done sending; a last request without its line end still gets its answer.
        client.ended = true;
        return got == 0;
    }
    client.input.append(chunk, static_cast<size_t>(got));
    client.deadline = Clock::now() + std::chrono::milliseconds(kIdleMilliseconds);
    return true;
}

// Takes every whole line of every kept client (and the last line of one that ended), hands them to
// the handler at once and queues each answer for its client, in order.
void CControlServer::AnswerAll(std::vector<Client>& clients, const std::vector<bool>& keep) {
    std::vector<std::string> lines;
    std::vector<size_t> owners;
    for (size_t i = 0; i < clients.size(); ++i) {
        if (keep[i] && !clients[i].closing) {
            TakeLines(clients[i], i, lines, owners);
        }
    }
    if (lines.empty()) {
        return;
    }
    const std::vector<std::string> replies = m_handler(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
        clients[owners[i]].output +=
            (i < replies.size() ? replies[i] : std::string("{\"ok\":false,\"error\":\"no answer\"}")) + "\n";
    }
}

// Moves the client's whole lines into lines; a line grown too long is refused here and ends the
// client, as does the end of its input.
void CControlServer::TakeLines(Client& client, size_t owner, std::vector<std::string>& lines,
                               std::vector<size_t>& owners) {
    size_t start = 0;
    size_t end;
    // Each line is measured whole: one that ends in the read that takes it past the limit is as
    // long as one that has not ended yet.
    bool overlong = false;
    while (!overlong && (end = client.input.find('\n', start)) != std::string::npos) {
        overlong = end - start > kMaxLine;
        if (!overlong) {
            lines.push_back(client.input.substr(start, end - start));
            owners.push_back(owner);
            start = end + 1;
        }
    }
    client.input.erase(0, start);
    if (overlong || client.input.size() > kMaxLine) {
        client.output +=
            "{\"ok\":false,\"error\":\"line longer than " + std::to_string(kMaxLine) + " bytes\"}\n";
        client.input.clear();
        client.closing = true;
    } else if (client.ended) {
        if (!client.input.empty()) {
            lines.push_back(client.input);
            owners.push_back(owner);
            client.input.clear();
        }
        client.closing = true;
    }
}

// Hands the kernel what it takes now, never waiting; false once the client is gone or done with.
bool CControlServer::Flush(Client& client) {
    while (!client.output.empty()) {
        const ssize_t sent =
            send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return true;
        }
        if (sent <= 0) {
            return false;  // the client went away; nothing to tell it
        }
        client.output.erase(0, static_cast<size_t>(sent));
        client.deadline = Clock::now() + std::chrono::milliseconds(kIdleMilliseconds);
    }
    return !client.closing;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
