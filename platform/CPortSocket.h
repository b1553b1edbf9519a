#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/CDeadline.h"
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
    ~CPortSocket();
    CPortSocket(CPortSocket&& other) noexcept;
    CPortSocket& operator=(CPortSocket&& other) noexcept;
    CPortSocket(const CPortSocket&) = delete;
    CPortSocket& operator=(const CPortSocket&) = delete;

    // Connects to the listener at path and refuses a listener run by an untrusted user.
    static NTSTATUS Connect(const std::string& path, CPortSocket& socket);
    // Listens at path, replacing whatever socket file was left there; -1 on failure.
    static int Listen(const std::string& path);

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Close();
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
    // Receives one packet. received is the payload size, capacity + 1 when it did not fit. fd is an
    // attached descriptor now owned by the caller, or -1. Status: success, STATUS_TIMEOUT when the
    // deadline passed, a failure when the peer is gone or sent something that is not a packet.
    NTSTATUS Receive(PortPacketHeader& header, void* buffer, std::size_t capacity, std::size_t& received,
                     int& fd, const CDeadline& deadline) const;

private:
    NTSTATUS WaitReadable(const CDeadline& deadline) const;

    int m_fd = -1;
};

}  // namespace Platform
}  // namespace Zun
