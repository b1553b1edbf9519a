#include "platform/CPortServer.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/CObjectNamespace.h"
#include "platform/CSharedSection.h"

namespace Zun {
namespace Platform {

constexpr std::chrono::milliseconds CPortServer::kDataReadTimeout;
constexpr std::chrono::milliseconds CPortServer::kAcceptBackoff;

namespace {

using Clock = std::chrono::steady_clock;

// Copies the first size bytes of a section the client sent along; false when the claim is more
// than a server takes or more than the section holds. Only sealed sections are taken, and they
// are read rather than mapped, so that no file of the client's choosing can stall or fault us.
bool CopyView(int fd, std::uint64_t size, std::vector<std::uint8_t>& bytes) {
    struct stat info;
    if (size > kPortMaxRequestData || !CSharedSection::IsSealed(fd) || fstat(fd, &info) != 0 ||
        info.st_size < 0 || size > static_cast<std::uint64_t>(info.st_size)) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t read = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(read);
    }
    return true;
}

// Milliseconds until at, rounded up, for poll().
int MillisecondsUntil(Clock::time_point at) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count() + 1;
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF));
}

int Earlier(int timeoutMs, int otherMs) {
    return timeoutMs < 0 ? otherMs : std::min(timeoutMs, otherMs);
}

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

CPortServer::CPortServer(std::uint32_t kind, const std::string& objectName)
    : m_kind(kind),
      m_path(CObjectNamespace::PathOf(objectName)),
      m_buffer(new std::uint8_t[kPortMaxPayload]) {
    if (m_path.empty() || !CObjectNamespace::EnsureFolder()) {
        return;
    }
    m_listener.Reset(CPortSocket::Listen(m_path));
    struct stat info;
    if (m_listener.IsOpen() && stat(m_path.c_str(), &info) == 0) {
        m_inode = info.st_ino;
    }
}

CPortServer::~CPortServer() {
    m_connections.clear();
    if (!m_listener.IsOpen()) {
        return;
    }
    m_listener.Reset();
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
    if (!m_listener.IsOpen()) {
        return false;
    }
    const CDeadline deadline =
        timeoutMs < 0 ? CDeadline::Unlimited() : CDeadline::In(std::chrono::milliseconds(timeoutMs));
    for (;;) {
        // A negative descriptor is skipped by poll(): the listener rests while descriptors run out.
        const bool listening = Clock::now() >= m_acceptPausedUntil;
        std::vector<pollfd> polled = {{listening ? m_listener.Get() : -1, POLLIN, 0}};
        std::vector<std::uint64_t> ids;
        const auto first = m_connections.upper_bound(m_lastServed);
        auto add = [&](const std::pair<const std::uint64_t, Connection>& entry) {
            const short events = static_cast<short>(POLLIN | (entry.second.outbox.IsEmpty() ? 0 : POLLOUT));
            polled.push_back({entry.second.socket.Fd(), events, 0});
            ids.push_back(entry.first);
        };
        std::for_each(first, m_connections.end(), add);
        std::for_each(m_connections.begin(), first, add);
        const int ready = poll(polled.data(), polled.size(), PollTimeoutMs(deadline));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        DropExpiredReads();
        if (ready > 0 && (polled[0].revents & POLLIN) != 0) {
            Accept();
        }
        for (std::size_t i = 0; ready > 0 && i < ids.size(); ++i) {
            const short events = polled[i + 1].revents;
            auto found = m_connections.find(ids[i]);
            if (events == 0 || found == m_connections.end()) {
                continue;
            }
            Connection& connection = found->second;
            Outcome outcome = Outcome::kNothing;
            if ((events & POLLOUT) != 0 && !connection.outbox.Flush(connection.socket)) {
                outcome = Outcome::kDrop;
            } else if ((events & ~POLLOUT) != 0) {
                outcome = HandleWithinMemory(ids[i], connection, request);
            }
            if (outcome == Outcome::kDrop) {
                m_connections.erase(found);
            } else if (outcome == Outcome::kRequest) {
                m_lastServed = ids[i];
                return true;
            }
        }
        if (!deadline.IsUnlimited() && deadline.RemainingMs() == 0) {
            return false;
        }
    }
}

// The caller's deadline, shortened to the end of the listener's rest and to the first read deadline,
// so that those are kept while no packet arrives.
int CPortServer::PollTimeoutMs(const CDeadline& deadline) const {
    int timeoutMs = deadline.RemainingMs();
    if (Clock::now() < m_acceptPausedUntil) {
        timeoutMs = Earlier(timeoutMs, MillisecondsUntil(m_acceptPausedUntil));
    }
    for (const auto& entry : m_connections) {
        if (entry.second.reading) {
            timeoutMs = Earlier(timeoutMs, MillisecondsUntil(entry.second.readDeadline));
        }
    }
    return timeoutMs;
}

bool CPortServer::CHeldData::Take(std::size_t& total, std::size_t bytes) {
    Release();
    if (bytes > kMaxHeldRequestData - total) {
        return false;
    }
    total += bytes;
    m_total = &total;
    m_bytes = bytes;
    return true;
}

void CPortServer::CHeldData::Release() {
    if (m_total != nullptr) {
        *m_total -= m_bytes;
        m_total = nullptr;
        m_bytes = 0;
    }
}

void CPortServer::Accept() {
    CUniqueFd fd(accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (fd.IsOpen()) {
        try {
            m_connections[++m_nextConnection].socket = CPortSocket(fd.Release());
        } catch (const std::bad_alloc&) {
            // No memory for one more client: its socket closes and the server goes on.
        }
    } else if (IsOutOfDescriptors(errno)) {
        // The connection stays in the backlog and the listener readable: polling it now would spin.
        m_acceptPausedUntil = Clock::now() + kAcceptBackoff;
    }
}

void CPortServer::DropExpiredReads() {
    const Clock::time_point now = Clock::now();
    for (auto entry = m_connections.begin(); entry != m_connections.end();) {
        if (entry->second.reading && now >= entry->second.readDeadline) {
            entry = m_connections.erase(entry);
        } else {
            ++entry;
        }
    }
}

// Memory that runs out while one client's packet is taken (its request, its view, its entry) costs
// that client its connection, never the server the others.
CPortServer::Outcome CPortServer::HandleWithinMemory(std::uint64_t id, Connection& connection,
                                                     CPortRequest& request) {
    try {
        return Handle(id, connection, request);
    } catch (const std::bad_alloc&) {
        return Outcome::kDrop;
    }
}

CPortServer::Outcome CPortServer::Handle(std::uint64_t id, Connection& connection, CPortRequest& request) {
    PortPacketHeader header;
    std::size_t length = 0;
    CUniqueFd fd;
    const NTSTATUS status = connection.socket.Receive(header, m_buffer.get(), kPortMaxPayload, length, fd,
                                                      CDeadline::In(std::chrono::milliseconds(0)));
    if (status == STATUS_TIMEOUT) {
        return Outcome::kNothing;
    }
    if (status != STATUS_SUCCESS || length > kPortMaxPayload) {
        return Outcome::kDrop;
    }
    if (!connection.accepted) {
        const bool accepted = header.kind == kPacketConnect && header.value1 == m_kind && !fd.IsOpen() &&
                              Handshake(connection, length);
        return accepted ? Outcome::kNothing : Outcome::kDrop;
    }
    if (connection.reading) {
        return fd.IsOpen() ? Outcome::kDrop : TakeData(connection, header, length, request);
    }
    if (header.kind == kPacketRequest || header.kind == kPacketDatagram) {
        connection.writes.clear();  // left by a request that was never answered
        return TakeRequest(id, connection, header, length, std::move(fd), request);
    }
    return Outcome::kNothing;  // e.g. the late answer to a read of a client dropped meanwhile
}

bool CPortServer::Handshake(Connection& connection, std::size_t length) {
    const std::vector<std::uint8_t> data(m_buffer.get(), m_buffer.get() + length);
    const bool accept = !m_filter || m_filter(data);
    const NTSTATUS answer = accept ? STATUS_SUCCESS : STATUS_PORT_CONNECTION_REFUSED;
    std::vector<CPortOutbox::Packet> packets;
    packets.push_back({{kPacketConnectReply, 0, static_cast<std::uint32_t>(answer), 0, 0}, {}, CUniqueFd()});
    if (!Queue(connection, std::move(packets)) || !accept) {
        return false;
    }
    connection.accepted = true;
    ++m_accepted;
    return true;
}

CPortServer::Outcome CPortServer::TakeRequest(std::uint64_t id, Connection& connection,
                                              const PortPacketHeader& header, std::size_t length,
                                              CUniqueFd fd, CPortRequest& request) {
    if (length < sizeof(PORT_MESSAGE)) {
        return Outcome::kDrop;
    }
    CPortRequest taken(id, header.messageId, header.kind == kPacketRequest,
                       std::vector<std::uint8_t>(m_buffer.get(), m_buffer.get() + length));
    if (fd.IsOpen()) {
        std::vector<std::uint8_t> view;
        if (!CopyView(fd.Get(), header.offset, view)) {
            return Outcome::kDrop;
        }
        taken.SetView(std::move(view), header.value1);
    }
    // A datagram's sender does not wait to serve reads: its entries cannot be had.
    const std::uint32_t entrySize = taken.DataEntrySize(0);
    if (m_kind != kPortLpc || !taken.WantsReply() || entrySize == 0) {
        request = std::move(taken);
        return Outcome::kRequest;
    }
    if (entrySize > kPortMaxRequestData || !connection.held.Take(m_heldRequestData, entrySize)) {
        return Outcome::kDrop;
    }
    // The first entry is read between other clients' packets; the request is handed out once it is in.
    connection.reading = true;
    connection.pending = std::move(taken);
    connection.data.clear();
    return RequestNextChunk(connection) ? Outcome::kNothing : Outcome::kDrop;
}

bool CPortServer::RequestNextChunk(Connection& connection) {
    const std::size_t size = connection.pending.DataEntrySize(0);
    const std::uint32_t chunk =
        static_cast<std::uint32_t>(std::min<std::size_t>(size - connection.data.size(), kPortMaxPayload));
    std::vector<CPortOutbox::Packet> packets;
    packets.push_back({{kPacketReadData, connection.pending.MessageId(), 0, chunk, connection.data.size()},
                       {},
                       CUniqueFd()});
    connection.readDeadline = Clock::now() + kDataReadTimeout;
    return Queue(connection, std::move(packets));
}

CPortServer::Outcome CPortServer::TakeData(Connection& connection, const PortPacketHeader& header,
                                           std::size_t length, CPortRequest& request) {
    const std::size_t size = connection.pending.DataEntrySize(0);
    const std::size_t expected = std::min<std::size_t>(size - connection.data.size(), kPortMaxPayload);
    if (header.kind != kPacketDataReply || header.messageId != connection.pending.MessageId() ||
        header.offset != connection.data.size() || (header.value1 == 0 && length != expected)) {
        return Outcome::kDrop;
    }
    // A client that cannot give the entry gets the request handed out without it, to be refused.
    const bool refused = header.value1 != 0;
    if (!refused) {
        connection.data.insert(connection.data.end(), m_buffer.get(), m_buffer.get() + length);
        if (connection.data.size() < size) {
            return RequestNextChunk(connection) ? Outcome::kNothing : Outcome::kDrop;
        }
        connection.pending.SetEntryData(std::move(connection.data));
    }
    connection.reading = false;
    connection.held.Release();
    connection.data.clear();
    request = std::move(connection.pending);
    connection.pending = CPortRequest();
    return Outcome::kRequest;
}

bool CPortServer::Queue(Connection& connection, std::vector<CPortOutbox::Packet> packets) {
    for (CPortOutbox::Packet& packet : packets) {
        connection.outbox.Add(std::move(packet));
    }
    return connection.outbox.Flush(connection.socket);
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
    // One answer at most waits for a client: one that has not taken the last is not reading.
    if (!connection->outbox.IsEmpty()) {
        m_connections.erase(request.Connection());
        return false;
    }
    PortPacketHeader header = {kPacketReply, request.MessageId(), viewFlags, 0, 0};
    CUniqueFd fd;
    if (view != nullptr) {
        fd.Reset(CSharedSection::Create(view->size()));
        std::size_t size = 0;
        void* base = fd.IsOpen() ? CSharedSection::Map(fd.Get(), size, true) : nullptr;
        if (base == nullptr) {
            return false;
        }
        std::memcpy(base, view->data(), view->size());
        munmap(base, size);
        header.offset = view->size();
    }
    if (connection->writesFor != request.MessageId()) {
        connection->writes.clear();
    }
    std::vector<CPortOutbox::Packet> packets;
    // A single write that fits travels in the reply's own packet: the client then wakes once.
    if (!fd.IsOpen() && connection->writes.size() == 1 &&
        connection->writes[0].bytes.size() + message.size() <= kPortMaxPayload) {
        PendingWrite& write = connection->writes[0];
        const PortPacketHeader combined = {kPacketWriteReply, request.MessageId(), write.header.value1,
                                           static_cast<std::uint32_t>(write.bytes.size()),
                                           write.header.offset};
        write.bytes.insert(write.bytes.end(), message.begin(), message.end());
        packets.push_back({combined, std::move(write.bytes), CUniqueFd()});
    } else {
        for (PendingWrite& write : connection->writes) {
            packets.push_back({write.header, std::move(write.bytes), CUniqueFd()});
        }
        packets.push_back({header, message, std::move(fd)});
    }
    connection->writes.clear();
    if (!Queue(*connection, std::move(packets))) {
        m_connections.erase(request.Connection());
        return false;
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
