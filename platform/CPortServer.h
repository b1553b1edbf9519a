#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/CPortOutbox.h"
#include "platform/CPortRequest.h"
#include "platform/CPortSocket.h"

namespace Zun {
namespace Platform {

// The server end of a substitute port, for a daemon that serves requests in a loop: it listens
// under an object name, accepts or refuses connections by their connection data, hands out one
// request at a time and answers it, serving any number of clients.
//
// Clients are local users and may be hostile: one thread serves them all, so nothing a client does
// may make it wait. Sends never block (an answer waits in the client's outbox), request data is
// read from the client's memory between other clients' packets, and whatever a client claims is
// checked against kPortMaxRequestData and kMaxHeldRequestData before anything is allocated for it. A
// client that breaks these rules is dropped, as is one whose request the server has no memory for.
class CPortServer {
public:
    typedef std::function<bool(const std::vector<std::uint8_t>& connectionData)> ConnectionFilter;

    // How long a client has to answer each read of its request data.
    static constexpr std::chrono::milliseconds kDataReadTimeout{2000};
    // What all clients' request data being read may claim together: a few entries at the limit.
    // A client whose entry would take the total past it is dropped before anything is read, so
    // that many clients at once cannot exhaust the server's memory.
    static constexpr std::size_t kMaxHeldRequestData = 4 * kPortMaxRequestData;
    // How long the listener rests when there is no descriptor left for another connection.
    static constexpr std::chrono::milliseconds kAcceptBackoff{250};

    // kind is kPortLpc or kPortAlpc; objectName e.g. "\BaseNamedObjects\<name>".
    CPortServer(std::uint32_t kind, const std::string& objectName);
    ~CPortServer();
    CPortServer(const CPortServer&) = delete;
    CPortServer& operator=(const CPortServer&) = delete;

    bool IsListening() const { return m_listener.IsOpen(); }
    std::uint32_t Kind() const { return m_kind; }
    // Decides which connections are accepted; without a filter all are.
    void SetConnectionFilter(ConnectionFilter filter) { m_filter = std::move(filter); }
    std::uint64_t AcceptedConnections() const { return m_accepted; }
    std::size_t Connections() const { return m_connections.size(); }
    // Request data claimed by the entries being read, against kMaxHeldRequestData.
    std::size_t HeldRequestData() const { return m_heldRequestData; }

    // Waits for the next request up to timeoutMs (-1: no limit), handling connections meanwhile.
    bool Receive(CPortRequest& request, int timeoutMs);
    // Sends message (a whole port message, header included, taken as it is) as the reply; view,
    // when given, travels as a section view with viewFlags. False when the client is gone, or is
    // dropped because it has not taken its previous reply yet.
    bool ReplyMessage(const CPortRequest& request, const std::vector<std::uint8_t>& message,
                      const std::vector<std::uint8_t>* view = nullptr, std::uint32_t viewFlags = 0);
    // Writes a data entry of a pending LPC request in the client's memory. Writes travel with the
    // request's reply, ahead of it, so that the client wakes once for both.
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
    // Request data reserved against kMaxHeldRequestData while one client's entry is read; given back
    // when the read ends or the connection goes.
    class CHeldData {
    public:
        CHeldData() = default;
        ~CHeldData() { Release(); }
        CHeldData(const CHeldData&) = delete;
        CHeldData& operator=(const CHeldData&) = delete;
        // False, and nothing reserved, when total would pass the bound.
        bool Take(std::size_t& total, std::size_t bytes);
        void Release();

    private:
        std::size_t* m_total = nullptr;
        std::size_t m_bytes = 0;
    };
    struct Connection {
        CPortSocket socket;
        CHeldData held;
        bool accepted = false;
        // Writes into the data entries of the request being answered, sent with its reply.
        std::uint32_t writesFor = 0;
        std::vector<PendingWrite> writes;
        // A request whose first data entry is still being read from the client, and until when
        // the client has to answer the read in flight.
        bool reading = false;
        CPortRequest pending;
        std::vector<std::uint8_t> data;
        std::chrono::steady_clock::time_point readDeadline;
        CPortOutbox outbox;
    };
    enum class Outcome { kNothing, kRequest, kDrop };

    int PollTimeoutMs(const CDeadline& deadline) const;
    void Accept();
    void DropExpiredReads();
    // Handles one packet of a readable connection.
    Outcome HandleWithinMemory(std::uint64_t id, Connection& connection, CPortRequest& request);
    Outcome Handle(std::uint64_t id, Connection& connection, CPortRequest& request);
    bool Handshake(Connection& connection, std::size_t length);
    Outcome TakeRequest(std::uint64_t id, Connection& connection, const PortPacketHeader& header,
                        std::size_t length, CUniqueFd fd, CPortRequest& request);
    bool RequestNextChunk(Connection& connection);
    Outcome TakeData(Connection& connection, const PortPacketHeader& header, std::size_t length,
                     CPortRequest& request);
    // Queues packets for the client and sends what it takes now; false when the client is gone.
    bool Queue(Connection& connection, std::vector<CPortOutbox::Packet> packets);
    Connection* ConnectionOf(const CPortRequest& request);

    std::uint32_t m_kind;
    std::string m_path;
    CUniqueFd m_listener;
    ino_t m_inode = 0;
    ConnectionFilter m_filter;
    // Before the connections, which give their share back as they go.
    std::size_t m_heldRequestData = 0;
    std::map<std::uint64_t, Connection> m_connections;
    std::uint64_t m_nextConnection = 0;
    // Where the next round over the clients starts, so that a busy client cannot starve the rest.
    std::uint64_t m_lastServed = 0;
    std::uint64_t m_accepted = 0;
    std::chrono::steady_clock::time_point m_acceptPausedUntil;
    std::unique_ptr<std::uint8_t[]> m_buffer;
};

}  // namespace Platform
}  // namespace Zun
