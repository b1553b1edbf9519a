#include "platform/CPortServer.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/CObjectNamespace.h"
#include "platform/CSharedSection.h"

namespace Zun {
namespace Platform {

namespace {

CDeadline TransferDeadline() {
    return CDeadline::In(std::chrono::milliseconds(kPortHandshakeMs));
}

// Copies the first size bytes of a section the client sent along; false when it is not that large.
bool CopyView(int fd, std::uint64_t size, std::vector<std::uint8_t>& bytes) {
    std::size_t mapped = 0;
    void* base = CSharedSection::Map(fd, mapped, false);
    if (base == nullptr) {
        return false;
    }
    const bool fits = size <= mapped;
    if (fits) {
        bytes.assign(static_cast<std::uint8_t*>(base), static_cast<std::uint8_t*>(base) + size);
    }
    munmap(base, mapped);
    return fits;
}

}  // namespace

CPortServer::CPortServer(std::uint32_t kind, const std::string& objectName)
    : m_kind(kind),
      m_path(CObjectNamespace::PathOf(objectName)),
      m_buffer(new std::uint8_t[kPortMaxPayload]) {
    if (m_path.empty() || !CObjectNamespace::EnsureFolder()) {
        return;
    }
    m_listener = CPortSocket::Listen(m_path);
    struct stat info;
    if (m_listener >= 0 && stat(m_path.c_str(), &info) == 0) {
        m_inode = info.st_ino;
    }
}

CPortServer::~CPortServer() {
    m_connections.clear();
    if (m_listener < 0) {
        return;
    }
    close(m_listener);
    // Only the socket file this server made is removed; a successor may have replaced it.
    struct stat info;
    if (stat(m_path.c_str(), &info) == 0 && info.st_ino == m_inode) {
        unlink(m_path.c_str());
    }
}

std::vector<std::uint8_t> CPortServer::Message(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> message(sizeof(PORT_MESSAGE) + data.size(), 0);
    PORT_MESSAGE header;
    std::memset(&header, 0, sizeof(header));
    header.u1.s1.DataLength = static_cast<CSHORT>(data.size());
    header.u1.s1.TotalLength = static_cast<CSHORT>(data.size() + sizeof(PORT_MESSAGE));
    std::memcpy(message.data(), &header, sizeof(header));
    if (!data.empty()) {
        std::memcpy(message.data() + sizeof(header), data.data(), data.size());
    }
    return message;
}

bool CPortServer::Receive(CPortRequest& request, int timeoutMs) {
    if (m_listener < 0) {
        return false;
    }
    const CDeadline deadline =
        timeoutMs < 0 ? CDeadline::Unlimited() : CDeadline::In(std::chrono::milliseconds(timeoutMs));
    for (;;) {
        std::vector<pollfd> polled = {{m_listener, POLLIN, 0}};
        std::vector<std::uint64_t> ids;
        for (auto& entry : m_connections) {
            polled.push_back({entry.second.socket.Fd(), POLLIN, 0});
            ids.push_back(entry.first);
        }
        const int ready = poll(polled.data(), polled.size(), deadline.RemainingMs());
        if (ready == 0) {
            return false;
        }
        if (ready < 0) {
            continue;
        }
        if ((polled[0].revents & POLLIN) != 0) {
            Accept();
        }
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (polled[i + 1].revents == 0) {
                continue;
            }
            bool drop = false;
            const bool found = Handle(ids[i], m_connections[ids[i]], request, drop);
            if (drop) {
                m_connections.erase(ids[i]);
            }
            if (found) {
                return true;
            }
        }
    }
}

void CPortServer::Accept() {
    const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        m_connections[++m_nextConnection].socket = CPortSocket(fd);
    }
}

bool CPortServer::Handle(std::uint64_t id, Connection& connection, CPortRequest& request, bool& drop) {
    PortPacketHeader header;
    std::size_t length = 0;
    int fd = -1;
    const NTSTATUS status = connection.socket.Receive(header, m_buffer.get(), kPortMaxPayload, length, fd,
                                                      CDeadline::In(std::chrono::milliseconds(0)));
    if (status == STATUS_TIMEOUT) {
        return false;
    }
    if (status != STATUS_SUCCESS || length > kPortMaxPayload) {
        drop = true;
    } else if (!connection.accepted) {
        drop = header.kind != kPacketConnect || header.value1 != m_kind || !Handshake(connection, length);
    } else if (header.kind == kPacketRequest || header.kind == kPacketDatagram) {
        connection.writes.clear();  // left by a request that was never answered
        if (TakeRequest(id, header, length, fd, request)) {
            return true;
        }
        drop = true;
    }
    if (fd >= 0) {
        close(fd);
    }
    return false;
}

bool CPortServer::Handshake(Connection& connection, std::size_t length) {
    const std::vector<std::uint8_t> data(m_buffer.get(), m_buffer.get() + length);
    const bool accept = !m_filter || m_filter(data);
    const NTSTATUS answer = accept ? STATUS_SUCCESS : STATUS_PORT_CONNECTION_REFUSED;
    const PortPacketHeader header = {kPacketConnectReply, 0, static_cast<std::uint32_t>(answer), 0, 0};
    if (!connection.socket.Send(header, nullptr, 0) || !accept) {
        return false;
    }
    connection.accepted = true;
    ++m_accepted;
    return true;
}

bool CPortServer::TakeRequest(std::uint64_t id, const PortPacketHeader& header, std::size_t length, int fd,
                              CPortRequest& request) {
    if (length < sizeof(PORT_MESSAGE)) {
        return false;
    }
    request = CPortRequest(id, header.messageId, header.kind == kPacketRequest,
                           std::vector<std::uint8_t>(m_buffer.get(), m_buffer.get() + length));
    if (fd >= 0) {
        std::vector<std::uint8_t> view;
        const bool copied = CopyView(fd, header.offset, view);
        close(fd);
        if (!copied) {
            return false;
        }
        request.SetView(std::move(view), header.value1);
    }
    return true;
}

const CPortSocket* CPortServer::SocketOf(const CPortRequest& request) const {
    auto found = m_connections.find(request.Connection());
    return found == m_connections.end() ? nullptr : &found->second.socket;
}

CPortServer::Connection* CPortServer::ConnectionOf(const CPortRequest& request) {
    auto found = m_connections.find(request.Connection());
    return found == m_connections.end() ? nullptr : &found->second;
}

bool CPortServer::ReplyMessage(const CPortRequest& request, const std::vector<std::uint8_t>& message,
                               const std::vector<std::uint8_t>* view, std::uint32_t viewFlags) {
    Connection* connection = ConnectionOf(request);
    if (connection == nullptr || message.size() > kPortMaxPayload) {
        return false;
    }
    PortPacketHeader header = {kPacketReply, request.MessageId(), viewFlags, 0, 0};
    int fd = -1;
    if (view != nullptr) {
        fd = CSharedSection::Create(view->size());
        std::size_t size = 0;
        void* base = fd >= 0 ? CSharedSection::Map(fd, size, true) : nullptr;
        if (base == nullptr) {
            if (fd >= 0) {
                close(fd);
            }
            return false;
        }
        std::memcpy(base, view->data(), view->size());
        munmap(base, size);
        header.offset = view->size();
    }
    if (connection->writesFor != request.MessageId()) {
        connection->writes.clear();
    }
    // A single write that fits travels in the reply's own packet: the client then wakes once.
    if (fd < 0 && connection->writes.size() == 1 &&
        connection->writes[0].bytes.size() + message.size() <= kPortMaxPayload) {
        PendingWrite& write = connection->writes[0];
        const PortPacketHeader combined = {kPacketWriteReply, request.MessageId(), write.header.value1,
                                           static_cast<std::uint32_t>(write.bytes.size()),
                                           write.header.offset};
        write.bytes.insert(write.bytes.end(), message.begin(), message.end());
        const bool sent = connection->socket.Send(combined, write.bytes.data(), write.bytes.size());
        connection->writes.clear();
        return sent;
    }
    std::vector<CPortSocket::Packet> packets;
    {
        for (const PendingWrite& write : connection->writes) {
            packets.push_back({write.header, write.bytes.data(), write.bytes.size(), -1});
        }
    }
    packets.push_back({header, message.data(), message.size(), fd});
    const bool sent = connection->socket.Send(packets);
    connection->writes.clear();
    if (fd >= 0) {
        close(fd);
    }
    return sent;
}

bool CPortServer::ReadRequestData(const CPortRequest& request, std::uint32_t entry,
                                  std::vector<std::uint8_t>& bytes) {
    const CPortSocket* socket = SocketOf(request);
    const std::uint32_t size = request.DataEntrySize(entry);
    bytes.clear();
    if (socket == nullptr || entry >= request.DataEntryCount()) {
        return false;
    }
    while (bytes.size() < size) {
        const std::uint32_t chunk =
            static_cast<std::uint32_t>(std::min<std::size_t>(size - bytes.size(), kPortMaxPayload));
        PortPacketHeader header = {kPacketReadData, request.MessageId(), entry, chunk, bytes.size()};
        std::size_t length = 0;
        int fd = -1;
        if (!socket->Send(header, nullptr, 0) ||
            socket->Receive(header, m_buffer.get(), kPortMaxPayload, length, fd, TransferDeadline()) !=
                STATUS_SUCCESS) {
            return false;
        }
        if (fd >= 0) {
            close(fd);
        }
        if (header.kind != kPacketDataReply || header.value1 != 0 || length != chunk) {
            return false;
        }
        bytes.insert(bytes.end(), m_buffer.get(), m_buffer.get() + length);
    }
    return true;
}

bool CPortServer::WriteRequestData(const CPortRequest& request, std::uint32_t entry,
                                   const std::vector<std::uint8_t>& bytes) {
    Connection* connection = ConnectionOf(request);
    if (connection == nullptr || entry >= request.DataEntryCount() ||
        bytes.size() > request.DataEntrySize(entry)) {
        return false;
    }
    if (connection->writesFor != request.MessageId()) {
        connection->writes.clear();
        connection->writesFor = request.MessageId();
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, kPortMaxPayload);
        connection->writes.push_back(
            {{kPacketWriteData, request.MessageId(), entry, 0, done},
             std::vector<std::uint8_t>(bytes.begin() + done, bytes.begin() + done + chunk)});
        done += chunk;
    }
    return true;
}

void CPortServer::Disconnect(const CPortRequest& request) {
    m_connections.erase(request.Connection());
}

}  // namespace Platform
}  // namespace Zun
