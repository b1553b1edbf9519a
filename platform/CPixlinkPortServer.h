#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CPortServer.h"

namespace Zun {
namespace Platform {

// The product's side of its LPC or ALPC port: names the port after the client's endpoint ids,
// accepts clients that speak the protocol, and reads requests and writes replies in whatever form
// their size calls for.
class CPixlinkPortServer {
public:
    // localId and remoteId as the client's Init receives them.
    CPixlinkPortServer(std::uint32_t kind, std::uint32_t localId, std::uint32_t remoteId);

    static std::string PortName(std::uint32_t kind, std::uint32_t localId, std::uint32_t remoteId);
    // The default connection filter: the magic and protocol version of the connection data.
    static bool IsPixlinkConnection(std::uint32_t kind, const std::vector<std::uint8_t>& data);

    CPortServer& Port() { return m_port; }
    bool IsListening() const { return m_port.IsListening(); }
    bool Receive(CPortRequest& request, int timeoutMs) { return m_port.Receive(request, timeoutMs); }

    std::uint32_t MessageType(const CPortRequest& request) const { return request.Dword(40); }
    std::uint32_t ReplyCapacity(const CPortRequest& request) const;
    // The request bytes, inline, from the client's memory (read with the request) or from the view; false
    // when they cannot be had.
    bool RequestBytes(const CPortRequest& request, std::vector<std::uint8_t>& bytes);
    // Replies with the result word and bytes, inline or through data entry 1 (LPC) or a view (ALPC).
    bool Reply(const CPortRequest& request, std::uint32_t result, const std::vector<std::uint8_t>& bytes);
    // A reply message of result, announced length and inline bytes, with nothing checked.
    static std::vector<std::uint8_t> ReplyMessage(std::uint32_t result, std::uint32_t length,
                                                  const std::vector<std::uint8_t>& inlineBytes);

private:
    bool LpcRequestBytes(const CPortRequest& request, std::vector<std::uint8_t>& bytes) const;
    bool AlpcRequestBytes(const CPortRequest& request, std::vector<std::uint8_t>& bytes) const;
    bool LpcReply(const CPortRequest& request, std::uint32_t result, const std::vector<std::uint8_t>& bytes);
    bool AlpcReply(const CPortRequest& request, std::uint32_t result, const std::vector<std::uint8_t>& bytes);

    std::uint32_t m_kind;
    CPortServer m_port;
};

}  // namespace Platform
}  // namespace Zun
