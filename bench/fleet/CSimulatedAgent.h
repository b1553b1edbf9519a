#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/api/link.grpc.pb.h"
#include "tools/agent/link/CReconnectBackoff.h"

namespace QuilBench {

typedef std::chrono::steady_clock Clock;

// One computer of the simulated fleet: its own certificate, its own store of rows (sequence numbers
// from 1) and one asynchronous stream to quil-server at a time, on gRPC's callback API so that
// thousands share a few threads. What it sends follows a computer's day, compressed by a factor: a
// heartbeat a minute, a protection-status change every ten minutes, one escrowed recovery password
// at its start, and a task result for every task it is given (a recovery-data request with nothing
// left when the server asks, as the product does once it took the confirmation).
//
// The driver calls Tick from one thread; gRPC's threads call into the stream. Every row is kept
// until the server acknowledged it, and sent again on the next connection after the Welcome's
// sequence, with back-off and jitter between attempts (the agent's own CReconnectBackoff).
class CSimulatedAgent {
public:
    struct Identity {
        std::string name;
        std::string key;
        std::string certificate;
        std::string ca;
    };
    struct Figures {
        std::vector<double> commitSeconds;  // per row: first send to the acknowledgement
        double escrowSeconds = -1;          // escrow row sent to its recovery response received
        Clock::time_point taskToAll;        // when the marked task arrived; epoch when not yet
        int connections = 0;                // welcomed streams
        Clock::time_point welcomed;         // the latest Welcome
    };

    // The line of the task that every agent notes the arrival of.
    static const char* const kMarkedTask;

    CSimulatedAgent(const Identity& identity, const std::string& address, double compression,
                    Clock::time_point start);
    ~CSimulatedAgent();
    CSimulatedAgent(const CSimulatedAgent&) = delete;
    CSimulatedAgent& operator=(const CSimulatedAgent&) = delete;

    // Makes the rows now due and (re)connects when it is time.
    void Tick(Clock::time_point now);
    // No new rows from now on (what is unacknowledged is still sent).
    void Quiet();
    // Ends the stream and does not connect again.
    void Stop();

    bool IsConnected();
    // No stream left: after Stop, once gRPC is done with the last one.
    bool IsIdle();
    // The last sequence made, and the highest the server acknowledged.
    int64_t Last();
    int64_t Acknowledged();
    Figures TakeFigures();
    // Rows first sent before this time no longer count in commitSeconds: the steady window measures
    // its own rows, not the backlog that the fleet's coming up left behind.
    void MeasureFrom(Clock::time_point start);
    // Rows sent since MeasureFrom and not acknowledged yet, by how long they have waited so far: they
    // count at the window's end with that wait, so that a slow tail is not left out.
    std::vector<double> WaitingSeconds();
    const std::string& Name() const { return m_identity.name; }

private:
    class CStream;
    friend class CStream;

    void MakeRow(uint32_t type, const std::string& content, bool escrow = false);
    void Connect(Clock::time_point now);
    // From the stream, on gRPC's threads.
    void Welcomed(CStream* stream, int64_t committedThrough);
    void Acked(int64_t committedThrough);
    void TaskArrived(CStream* stream, const quil::link::v1::Task& task);
    void Ended(CStream* stream);
    void SendAfter(CStream* stream, int64_t sequence);

    Identity m_identity;
    std::string m_address;
    std::shared_ptr<grpc::ChannelCredentials> m_credentials;
    std::chrono::microseconds m_heartbeat;
    std::chrono::microseconds m_statusChange;

    std::mutex m_mutex;  // what follows
    std::shared_ptr<CStream> m_stream;
    std::vector<std::shared_ptr<CStream>> m_ended;  // done, until gRPC has left their OnDone
    bool m_connected = false;
    bool m_quiet = false;
    bool m_stopped = false;
    Clock::time_point m_connectAt;
    Clock::time_point m_nextHeartbeat;
    Clock::time_point m_nextStatus;
    Zun::Tools::Agent::CReconnectBackoff m_backoff;
    int64_t m_last = 0;
    int64_t m_acked = 0;
    int64_t m_sentThrough = 0;  // on the current stream
    std::map<int64_t, quil::link::v1::StoredRow> m_unacked;
    std::map<int64_t, Clock::time_point> m_firstSent;
    Clock::time_point m_escrowSent;
    Figures m_figures;
    Clock::time_point m_measureFrom;
};

}  // namespace QuilBench
