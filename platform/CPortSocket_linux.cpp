#include "platform/CPortSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/CObjectNamespace.h"

namespace Zun {
namespace Platform {

namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void CloseAttached(msghdr& message) {
    for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr;
         control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (control->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd;
                std::memcpy(&fd, CMSG_DATA(control) + i * sizeof(int), sizeof(int));
                close(fd);
            }
        }
    }
}

// Takes exactly one attached descriptor; packets never carry more, so extra ones are closed.
int TakeAttached(msghdr& message) {
    cmsghdr* control = CMSG_FIRSTHDR(&message);
    if (control == nullptr || control->cmsg_level != SOL_SOCKET || control->cmsg_type != SCM_RIGHTS ||
        control->cmsg_len != CMSG_LEN(sizeof(int)) || CMSG_NXTHDR(&message, control) != nullptr) {
        CloseAttached(message);
        return -1;
    }
    int fd;
    std::memcpy(&fd, CMSG_DATA(control), sizeof(int));
    return fd;
}

// Room for the one descriptor a packet may carry.
struct ControlSpace {
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(int))];
};

void Attach(msghdr& message, ControlSpace& control, int fd) {
    std::memset(&control, 0, sizeof(control));
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof(control.bytes);
    cmsghdr* attached = CMSG_FIRSTHDR(&message);
    attached->cmsg_level = SOL_SOCKET;
    attached->cmsg_type = SCM_RIGHTS;
    attached->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(attached), &fd, sizeof(int));
}

}  // namespace

void CPortSocket::Shutdown() const {
    if (m_fd.IsOpen()) {
        shutdown(m_fd.Get(), SHUT_RDWR);
    }
}

uid_t CPortSocket::PeerUid() const {
    ucred credentials;
    socklen_t length = sizeof(credentials);
    if (getsockopt(m_fd.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return static_cast<uid_t>(-1);
    }
    return credentials.uid;
}

NTSTATUS CPortSocket::Connect(const std::string& path, CPortSocket& socket) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    CPortSocket candidate(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!candidate.IsOpen()) {
        return STATUS_NO_MEMORY;
    }
    if (connect(candidate.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        return errno == EACCES ? STATUS_ACCESS_DENIED : STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (!CObjectNamespace::IsTrustedOwner(candidate.PeerUid())) {
        return STATUS_SERVER_SID_MISMATCH;
    }
    socket = std::move(candidate);
    return STATUS_SUCCESS;
}

int CPortSocket::Listen(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return -1;
    }
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode)) {
        unlink(path.c_str());
    }
    CUniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.IsOpen() || bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(fd.Get(), 64) != 0) {
        return -1;
    }
    return fd.Release();
}

bool CPortSocket::Send(const PortPacketHeader& header, const void* payload, std::size_t size, int fd) const {
    return Send(std::vector<Packet>{{header, payload, size, fd}});
}

bool CPortSocket::Send(const std::vector<Packet>& packets) const {
    std::size_t sent = 0;
    return SendFrom(packets, 0, sent) && sent == packets.size();
}

bool CPortSocket::TrySend(const std::vector<Packet>& packets, std::size_t& sent) const {
    return SendFrom(packets, MSG_DONTWAIT, sent);
}

bool CPortSocket::SendFrom(const std::vector<Packet>& packets, int flags, std::size_t& sent) const {
    const std::size_t count = packets.size();
    std::vector<iovec> parts(2 * count);
    std::vector<mmsghdr> messages(count);
    std::vector<ControlSpace> controls(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Packet& packet = packets[i];
        parts[2 * i] = {const_cast<PortPacketHeader*>(&packet.header), sizeof(packet.header)};
        parts[2 * i + 1] = {const_cast<void*>(packet.payload), packet.size};
        msghdr& message = messages[i].msg_hdr;
        std::memset(&messages[i], 0, sizeof(messages[i]));
        message.msg_iov = &parts[2 * i];
        message.msg_iovlen = packet.size > 0 ? 2 : 1;
        if (packet.fd >= 0) {
            Attach(message, controls[i], packet.fd);
        }
    }
    for (sent = 0; sent < count;) {
        const int taken =
            sendmmsg(m_fd.Get(), &messages[sent], static_cast<unsigned>(count - sent), MSG_NOSIGNAL | flags);
        if (taken < 0 && errno == EINTR) {
            continue;
        }
        if (taken < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && (flags & MSG_DONTWAIT) != 0) {
            return true;
        }
        if (taken <= 0) {
            return false;
        }
        for (int i = 0; i < taken; ++i, ++sent) {
            if (messages[sent].msg_len != sizeof(PortPacketHeader) + packets[sent].size) {
                return false;
            }
        }
    }
    return true;
}

NTSTATUS CPortSocket::WaitReadable(const CDeadline& deadline) const {
    for (;;) {
        pollfd entry = {m_fd.Get(), POLLIN, 0};
        const int ready = poll(&entry, 1, deadline.RemainingMs());
        if (ready > 0) {
            return STATUS_SUCCESS;
        }
        if (ready == 0) {
            return STATUS_TIMEOUT;
        }
        if (errno != EINTR) {
            return STATUS_PORT_DISCONNECTED;
        }
    }
}

NTSTATUS CPortSocket::Receive(PortPacketHeader& header, void* buffer, std::size_t capacity,
                              std::size_t& received, CUniqueFd& fd, const CDeadline& deadline) const {
    fd.Reset();
    if (!m_fd.IsOpen()) {
        return STATUS_PORT_DISCONNECTED;
    }
    iovec parts[2] = {{&header, sizeof(header)}, {buffer, capacity}};
    msghdr message;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    // An unlimited wait blocks in the receive itself; a limited one first takes a packet that is
    // already there and polls only when there is none, so the request path pays one call per packet.
    const int flags = MSG_CMSG_CLOEXEC | (deadline.IsUnlimited() ? 0 : MSG_DONTWAIT);
    ssize_t length;
    for (;;) {
        std::memset(&message, 0, sizeof(message));
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        length = recvmsg(m_fd.Get(), &message, flags);
        if (length >= 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return STATUS_PORT_DISCONNECTED;
        }
        const NTSTATUS ready = WaitReadable(deadline);
        if (ready != STATUS_SUCCESS) {
            return ready;
        }
    }
    if (message.msg_controllen > 0) {
        fd.Reset(TakeAttached(message));
    }
    if (length == 0) {
        return STATUS_PORT_DISCONNECTED;
    }
    if (static_cast<std::size_t>(length) < sizeof(header) || (message.msg_flags & MSG_CTRUNC) != 0) {
        fd.Reset();
        return STATUS_UNSUCCESSFUL;
    }
    received = (message.msg_flags & MSG_TRUNC) != 0 ? capacity + 1 : length - sizeof(header);
    return STATUS_SUCCESS;
}

}  // namespace Platform
}  // namespace Zun
