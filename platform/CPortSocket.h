#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/CDeadline.h"
#include "platform/CUniqueFd.h"
#include "platform/NtTypes.h"
#include "platform/PortWire.h"

namespace Zun {
namespace Platform {

// One end of a substitute port: a Unix SEQPACKET socket that moves whole packets, each with an
// optional file descriptor attached.
class CPortSocket {
public:
    CPortSocket() = default;
    explicit CPortSocket(int fd) : m_fd(fd) {}

    // Connects to the listener at path and refuses a listener run by an untrusted user.
    static NTSTATUS Connect(const std::string& path, CPortSocket& socket);
    // Listens at path, replacing whatever socket file was left there; -1 on failure.
    static int Listen(const std::string& path);

    bool IsOpen() const { return m_fd.IsOpen(); }
    int Fd() const { return m_fd.Get(); }
    void Close() { m_fd.Reset(); }
    // Wakes a thread blocked in Receive without closing the descriptor under it.
    void Shutdown() const;
    uid_t PeerUid() const;

    // A packet to send: header, payload bytes and an optional descriptor to attach.
    struct Packet {
        PortPacketHeader header;
        const void* payload;
        std::size_t size;
        int fd;
    };

    bool Send(const PortPacketHeader& header, const void* payload, std::size_t size, int fd = -1) const;
    // Sends the packets in order with one system call where the kernel takes them all at once, so
    // that the peer wakes once for a reply and the data written ahead of it.
    bool Send(const std::vector<Packet>& packets) const;
    // Sends without waiting: sent counts the leading packets the kernel took whole. False when the
    // peer is gone; a full socket is no failure.
    bool TrySend(const std::vector<Packet>& packets, std::size_t& sent) const;
    // Receives one packet. received is the payload size, capacity + 1 when it did not fit. fd receives
    // the attached descriptor, if any. Status: success, STATUS_TIMEOUT when the
    // deadline passed, a failure when the peer is gone or sent something that is not a packet.
    NTSTATUS Receive(PortPacketHeader& header, void* buffer, std::size_t capacity, std::size_t& received,
                     CUniqueFd& fd, const CDeadline& deadline) const;

private:
    NTSTATUS WaitReadable(const CDeadline& deadline) const;
    // Sends from the first packet on with flags; sent counts the packets the kernel took whole.
    bool SendFrom(const std::vector<Packet>& packets, int flags, std::size_t& sent) const;

    CUniqueFd m_fd;
};

}  // namespace Platform
}  // namespace Zun
