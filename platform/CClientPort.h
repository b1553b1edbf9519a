#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CKernelObject.h"
#include "platform/CPortSocket.h"

namespace Zun {
namespace Platform {

// A part of the client's own memory that an LPC message lets the server read and write.
struct LpcDataEntry {
    std::uint8_t* address;
    std::uint32_t size;
};

// One message exchange on a client port, as the system calls describe it.
struct PortExchange {
    const PORT_MESSAGE* message = nullptr;
    int viewFd = -1;  // section of a view sent along (not owned)
    std::uint32_t viewFlags = 0;
    std::uint64_t viewSize = 0;
    std::vector<LpcDataEntry> entries;
    PORT_MESSAGE* reply = nullptr;  // null for a one-way message
    std::size_t replyCapacity = 0;
    CDeadline deadline = CDeadline::Unlimited();
    // Results: the size of the reply and a view received with it (mapped read-only, registered).
    std::size_t replyLength = 0;
    void* replyView = nullptr;
    std::size_t replyViewSize = 0;
    std::uint32_t replyViewFlags = 0;
};

// The client end of a connected substitute port, in the handle table. It does the kernel's part of
// a request: it forwards the message, serves the server's access to the data entries while the
// request is pending, and delivers only the reply that matches the request.
class CClientPort : public CKernelObject {
public:
    // Connects and hands over the connection data; the server's refusal is its status.
    static NTSTATUS Connect(const std::string& path, std::uint32_t kind, const void* data, std::size_t size,
                            std::shared_ptr<CClientPort>& port);

    std::uint32_t Kind() const { return m_kind; }
    void Disconnect() { m_socket.Shutdown(); }
    NTSTATUS Exchange(PortExchange& exchange);

private:
    CClientPort(CPortSocket socket, std::uint32_t kind);

    NTSTATUS Send(const PortExchange& exchange, std::uint32_t messageId);
    NTSTATUS AwaitReply(PortExchange& exchange, std::uint32_t messageId);
    void ServeRead(const PortPacketHeader& header, const std::vector<LpcDataEntry>& entries);
    void ServeWrite(const PortPacketHeader& header, std::size_t length,
                    const std::vector<LpcDataEntry>& entries);
    NTSTATUS DeliverReply(PortExchange& exchange, std::uint32_t messageId, std::size_t length, CUniqueFd fd);

    CPortSocket m_socket;
    std::uint32_t m_kind;
    std::uint32_t m_lastMessageId = 0;
    std::mutex m_exchangeLock;
    std::unique_ptr<std::uint8_t[]> m_scratch;
};

}  // namespace Platform
}  // namespace Zun
