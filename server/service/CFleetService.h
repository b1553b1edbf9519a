#pragma once

#include <boost/thread/mutex.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/service/CCommitQueue.h"
#include "server/service/CItemSealer.h"
#include "server/service/IAgentLinkHandler.h"
#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

// What the server does with what agents send: their rows stored once each, recovery secrets sealed
// and escrowed with the rows that carried them, the agent's recovery-response queued once they are
// safe, and each item followed until the product stops listing it. Also queues the administrator's
// tasks and reveals escrowed passwords, each reveal audited before anything is shown.
class CFleetService : public IAgentLinkHandler {
public:
    // Whether the CA calls a certificate serial current (issued by it and not revoked).
    typedef std::function<bool(const std::string& serial)> SerialCheck;
    // level: 0 debug, 1 info, 2 warn, 3 error. Never given a secret.
    typedef std::function<void(int level, const std::string& text)> Log;

    struct Revealed {
        std::string internalId;
        std::string deviceId;
        std::string index;
        std::string state;
        std::string secret;
    };
    struct Requester {
        std::string user;
        int64_t uid = 0;
    };

    static const uint32_t kRecoveryRequest = 728;

    // Groups of rows committed at once: PostgreSQL takes two on sessions of their own while the
    // link's workers connect agents on theirs; SQLite writes one transaction at a time anyway.
    static const std::size_t kPostgresWriters = 2;
    // Tasks queued in one transaction when one line goes to many computers.
    static const std::size_t kQueueGroup = 500;

    CFleetService(CFleetStore& store, const CItemSealer& sealer, SerialCheck isCurrent, Log log);
    ~CFleetService() override;

    int64_t Connected(const std::string& computer, const std::string& certificateSerial,
                      const quil::link::v1::Hello& hello, Wake wake) override;
    int64_t Commit(const std::string& computer, const std::vector<quil::link::v1::StoredRow>& rows) override;
    void CommitAsync(const std::string& computer, std::vector<quil::link::v1::StoredRow> rows,
                     Committed done) override;
    void WorkerStarted() override;
    std::vector<Delivery> TakeDeliveries(const std::string& computer) override;
    void Answered(const std::string& computer, const quil::link::v1::TaskAnswer& answer) override;
    void Disconnected(const std::string& computer, const std::vector<int64_t>& unanswered) override;

    // Queues a task line (already checked) for the computer and wakes its stream when it is connected
    // here; other servers on the same database hear of it through the store's announcement.
    int64_t QueueTask(const std::string& computer, const std::string& line, const std::string& taskIds);
    // The same task line for several computers, committed in groups; the tasks' ids in their order.
    std::vector<int64_t> QueueTasks(const std::vector<std::string>& computers, const std::string& line,
                                    const std::string& taskIds);
    bool IsConnected(const std::string& computer) const;
    // Has the computer's stream, when it is connected here, take what is queued for it.
    void WakeComputer(const std::string& computer);
    // Every stream connected here: after announcements from other servers may have been missed.
    void WakeAll();
    // This process among the servers that share the database: in the computers it holds and in the
    // tasks it announces.
    const std::string& ServerId() const { return m_serverId; }
    // The computer's recovery passwords (of one device, when given), after the audit row naming them
    // and the reason was written; nothing when it could not be. The caller wipes the secrets.
    std::vector<Revealed> Reveal(const std::string& computer, const std::string& device,
                                 const Requester& requester, const std::string& reason);

private:
    struct Response {
        std::vector<int64_t> items;
        std::vector<std::string> passwords;
        std::vector<std::string> data;
    };

    void BindSession();
    void CommitGroup(std::vector<CCommitQueue::Batch>& group);
    // The rows' statements, inside the caller's transaction; returns the sequence committed through.
    int64_t CommitRows(const std::string& computer, const std::vector<quil::link::v1::StoredRow>& rows,
                       std::vector<Response>& responses);
    void QueueResponses(const std::string& computer, const std::vector<Response>& responses);
    // The response's task, inside the caller's transaction; false when there is nothing to queue.
    bool StoreResponse(const std::string& computer, const Response& response);
    // Adds what the row tells of the computer to the readings its batch writes with its end.
    void CommitRow(const std::string& computer, const quil::link::v1::StoredRow& row,
                   std::vector<Response>& responses, CFleetStore::Readings& readings);
    void Escrow(const std::string& computer, const quil::link::v1::StoredRow& row, Response& response);
    void ConfirmAbsent(const std::string& computer, const quil::link::v1::StoredRow& row);
    void QueueVerification(const std::string& computer, const std::string& time);
    void QueueResponse(const std::string& computer, const Response& response);
    void RequeueUnanswered(const std::string& computer);
    void OfferAgain(const std::string& computer, const std::vector<int64_t>& unanswered);
    static std::string ResponseLine(const Response& response);

    CFleetStore& m_store;
    const CItemSealer& m_sealer;
    SerialCheck m_isCurrent;
    Log m_log;
    // A computer's streams here: a new one may connect before the server notices the old one's end.
    struct Link {
        Wake wake;  // the newest stream's
        int streams = 0;
    };

    std::string m_serverId;
    mutable boost::mutex m_lock;
    std::map<std::string, Link> m_links;
    std::unique_ptr<CCommitQueue> m_commits;  // last: its writers use all of the above
};

}  // namespace Server
}  // namespace Zun
