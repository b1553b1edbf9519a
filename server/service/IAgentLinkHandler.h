#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "server/api/link.pb.h"

namespace Zun {
namespace Server {

// What the link endpoint hands over to the fleet service: one computer's stream, already
// authenticated (the name comes from its certificate). Every call may come from any of the link's
// threads; calls for one computer come from one stream at a time.
class IAgentLinkHandler {
public:
    struct Delivery {
        int64_t id = 0;
        std::string line;
    };
    // Wakes the computer's stream when a delivery was queued for it.
    using Wake = std::function<void()>;
    // The end of a commit: error is empty when the rows are committed through `through`.
    using Committed = std::function<void(int64_t through, const std::string& error)>;

    virtual ~IAgentLinkHandler() = default;

    // The agent connected; returns the highest sequence committed for the computer, from which it
    // resends. `wake` may be called, from any thread, until Disconnected returns. Throws when the
    // computer must be refused (a revoked certificate), with the reason as text.
    virtual int64_t Connected(const std::string& computer, const std::string& certificateSerial,
                              const quil::link::v1::Hello& hello, Wake wake) = 0;
    // Commits the rows (sequence order; rows already committed are skipped) and returns the highest
    // sequence committed without a gap. Throws when nothing could be committed.
    virtual int64_t Commit(const std::string& computer,
                           const std::vector<quil::link::v1::StoredRow>& rows) = 0;
    // Commit, possibly later and together with other computers' rows: done hears of the end, from
    // any thread, only once the rows are committed or known not to be. Here: Commit, at once.
    virtual void CommitAsync(const std::string& computer, std::vector<quil::link::v1::StoredRow> rows,
                             Committed done) {
        int64_t through = 0;
        try {
            through = Commit(computer, rows);
        } catch (const std::exception& e) {
            done(0, e.what());
            return;
        }
        done(through, std::string());
    }
    // Runs first on each of the link's worker threads, which then make every call but CommitAsync's
    // commits.
    virtual void WorkerStarted() {}
    // The deliveries not yet taken on this connection, oldest first. Deliveries that were taken but
    // not answered are offered again after the next Connected.
    virtual std::vector<Delivery> TakeDeliveries(const std::string& computer) = 0;
    virtual void Answered(const std::string& computer, const quil::link::v1::TaskAnswer& answer) = 0;
    // The stream ended. `unanswered`: the deliveries it sent that no answer on it came for; they are
    // offered again to whichever stream serves the computer now (an agent skips a task it took).
    virtual void Disconnected(const std::string& computer, const std::vector<int64_t>& unanswered) = 0;
};

}  // namespace Server
}  // namespace Zun
