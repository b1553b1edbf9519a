#pragma once

#include <grpcpp/grpcpp.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "server/api/CLinkServer.h"
#include "server/api/link.grpc.pb.h"

namespace Zun {
namespace Server {

class CWorkPool;
class IAgentLinkHandler;

// One agent's stream, driven by gRPC's callbacks: no thread of its own, so that thousands of
// connected agents cost memory, not threads. The handler is called on the work pool, one call of a
// stream at a time and in order, never on gRPC's threads (it may wait for the database).
//
// Rows that arrive while a commit runs are gathered for the next one, so a busy agent costs one
// commit per round trip rather than one per row; the handler may group them with other streams'
// rows, and the ack goes out once they are committed. One commit and one write are in flight at a
// time; the rest wait.
// The stream owns itself until gRPC is done with it and the handler has heard of its end.
class CLinkStream
    : public grpc::ServerBidiReactor<quil::link::v1::AgentMessage, quil::link::v1::ServerMessage>,
      public std::enable_shared_from_this<CLinkStream> {
public:
    // Rows held for the next commit before the stream stops reading: memory stays bounded when an
    // agent sends faster than the database commits.
    static const std::size_t kMaxPendingRows = 2000;

    static CLinkStream* Open(grpc::CallbackServerContext* context, IAgentLinkHandler& handler,
                             CWorkPool& pool, const CLinkServer::Log& log);

    void OnReadDone(bool ok) override;
    void OnWriteDone(bool ok) override;
    void OnCancel() override;
    void OnDone() override;

private:
    CLinkStream(IAgentLinkHandler& handler, CWorkPool& pool, const CLinkServer::Log& log);
    void Begin(grpc::CallbackServerContext* context);
    bool Identify(grpc::CallbackServerContext* context);
    void TakeMessage();
    void TakeRow();
    void Post(std::function<void()> work);
    void Drain();
    void Connect(const quil::link::v1::Hello& hello);
    void CommitPending();
    void Committed(std::size_t rows, int64_t through, const std::string& error);
    void Deliver();
    void Answer(const quil::link::v1::TaskAnswer& answer);
    void End();
    void Send(const quil::link::v1::ServerMessage& message);
    void Close(const grpc::Status& status);
    void Read();
    std::string Who() const;

    IAgentLinkHandler& m_handler;
    CWorkPool& m_pool;
    CLinkServer::Log m_log;
    std::string m_computer;
    std::string m_serial;
    std::string m_peer;
    std::shared_ptr<CLinkStream> m_self;
    // Deliveries sent on this stream and not answered on it. Only the stream's posted work, which
    // runs one call at a time, touches it.
    std::set<int64_t> m_unanswered;

    quil::link::v1::AgentMessage m_incoming;
    std::mutex m_mutex;                                    // what follows
    std::deque<quil::link::v1::ServerMessage> m_outgoing;  // front: the write in flight
    bool m_writing = false;
    bool m_closed = false;  // Finish was called
    bool m_done = false;    // gRPC is done with the stream
    bool m_greeted = false;
    bool m_connected = false;
    bool m_readPaused = false;
    bool m_commitQueued = false;  // queued on the pool or in the handler's hands
    std::vector<quil::link::v1::StoredRow> m_pending;
    std::deque<std::function<void()>> m_work;
    bool m_working = false;
};

}  // namespace Server
}  // namespace Zun
