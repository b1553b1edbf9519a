#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/CPortRequest.h"
#include "platform/CPortSocket.h"

namespace Zun {
namespace Platform {

// The server end of a substitute port, for a daemon that serves requests in a loop: it listens
// under an object name, accepts or refuses connections by their connection data, hands out one
// request at a time and answers it, serving any number of clients.
class CPortServer {
public:
    typedef std::function<bool(const std::vector<std::uint8_t>& connectionData)> ConnectionFilter;

    // kind is kPortLpc or kPortAlpc; objectName e.g. "\BaseNamedObjects\<name>".
    CPortServer(std::uint32_t kind, const std::string& objectName);
    ~CPortServer();
    CPortServer(const CPortServer&) = delete;
    CPortServer& operator=(const CPortServer&) = delete;

    bool IsListening() const { return m_listener >= 0; }
    std::uint32_t Kind() const { return m_kind; }
    // Decides which connections are accepted; without a filter all are.
    void SetConnectionFilter(ConnectionFilter filter) { m_filter = std::move(filter); }
    std::uint64_t AcceptedConnections() const { return m_accepted; }

    // Waits for the next request up to timeoutMs (-1: no limit), handling connections meanwhile.
    bool Receive(CPortRequest& request, int timeoutMs);
    // Sends message (a whole port message, header included, taken as it is) as the reply; view,
    // when given, travels as a section view with viewFlags.
    bool ReplyMessage(const CPortRequest& request, const std::vector<std::uint8_t>& message,
                      const std::vector<std::uint8_t>* view = nullptr, std::uint32_t viewFlags = 0);
    // Reads or writes a data entry of a pending LPC request in the client's memory. Writes travel
    // with the request's reply, ahead of it, so that the client wakes once for both.
    bool ReadRequestData(const CPortRequest& request, std::uint32_t entry, std::vector<std::uint8_t>& bytes);
    bool WriteRequestData(const CPortRequest& request, std::uint32_t entry,
                          const std::vector<std::uint8_t>& bytes);
    // Drops the client's connection, as a server that goes away would.
    void Disconnect(const CPortRequest& request);

    // A port message of data with a consistent header.
    static std::vector<std::uint8_t> Message(const std::vector<std::uint8_t>& data);

private:
    struct PendingWrite {
        PortPacketHeader header;
        std::vector<std::uint8_t> bytes;
    };
    struct Connection {
        CPortSocket socket;
        bool accepted = false;
        // Writes into the data entries of the request being answered, sent with its reply.
        std::uint32_t writesFor = 0;
        std::vector<PendingWrite> writes;
    };

    void Accept();
    // True when the packet was a request, now in request.
    bool Handle(std::uint64_t id, Connection& connection, CPortRequest& request, bool& drop);
    bool Handshake(Connection& connection, std::size_t length);
    bool TakeRequest(std::uint64_t id, const PortPacketHeader& header, std::size_t length, int fd,
                     CPortRequest& request);
    const CPortSocket* SocketOf(const CPortRequest& request) const;
    Connection* ConnectionOf(const CPortRequest& request);

    std::uint32_t m_kind;
    std::string m_path;
    int m_listener = -1;
    ino_t m_inode = 0;
    ConnectionFilter m_filter;
    std::map<std::uint64_t, Connection> m_connections;
    std::uint64_t m_nextConnection = 0;
    std::uint64_t m_accepted = 0;
    std::unique_ptr<std::uint8_t[]> m_buffer;
};

}  // namespace Platform
}  // namespace Zun
