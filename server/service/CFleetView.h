#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <map>
#include <string>
#include <vector>

#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

// The fleet as the administrator sees it, derived from the rows agents sent: per computer when it
// was last seen, whether its agent reaches the product (judged as quil-agent itself judges it), the
// newest protection, storage, licence and maintenance rows as readable lines, the state of every
// escrowed item and the newest task results. Never shows a secret.
class CFleetView {
public:
    static const int kTaskResults = 10;

    // What the fleet's list shows of one computer.
    struct HostSummary {
        std::string name;
        bool connected = false;
        std::string lastSeen;
        std::string product;        // as ProductState names it
        std::string protection;     // the newest protection status as a readable line, or empty
        std::string storage;        // the newest encryption storage status ("in order, level 1"), or empty
        std::string licenceExpiry;  // the soonest expiry of the newest licence log, or empty
        int64_t items = 0;          // escrowed recovery items, in any state
        int64_t itemsUnconfirmed = 0;
    };

    explicit CFleetView(CFleetStore& store) : m_store(store) {}

    // One per computer, by name.
    std::vector<HostSummary> Summaries();
    // The same as JSON objects: name, connected, last_seen, product, protection, encryption (the storage),
    // licence_expiry, items, items_unconfirmed.
    Poco::JSON::Array::Ptr Hosts();
    // Throws std::invalid_argument for a computer the server never saw.
    Poco::JSON::Object::Ptr Host(const std::string& name);
    // Every task with its state and the task result events that came back for its identifiers.
    Poco::JSON::Array::Ptr Tasks();
    // The newest status rows (protection, connector, storage, product) as readable lines, newest first.
    Poco::JSON::Array::Ptr History(const std::string& name, int limit);
    // "connected", "not installed", "not reachable", or "unknown" before any row tells.
    std::string ProductState(const std::string& name);

private:
    // A computer's newest rows of each kind the fleet's list reads, newest first.
    struct NewestRows {
        const std::vector<CFleetStore::Row>& state;  // at most kFleetStateRows
        std::vector<CFleetStore::Row> protection;    // at most one
    };

    HostSummary Summary(const CFleetStore::Computer& computer);
    HostSummary Summary(const CFleetStore::Computer& computer, const NewestRows& newest,
                        const std::map<std::string, int64_t>& states);
    static Poco::JSON::Object::Ptr AsObject(const HostSummary& summary);
    // The computer's newest row of the type: among its newest rows (at most limit of them, newest
    // first), where it nearly always is; read on its own only when those are full and hold none.
    std::vector<CFleetStore::Row> NewestOf(const std::string& name,
                                           const std::vector<CFleetStore::Row>& newest, int64_t type,
                                           int limit);
    Poco::JSON::Array::Ptr Lines(const std::string& name, const std::vector<int64_t>& types, int limit);
    Poco::JSON::Array::Ptr Escrow(const std::string& name);
    Poco::JSON::Array::Ptr Results(const CFleetStore::Task& task);

    CFleetStore& m_store;
};

}  // namespace Server
}  // namespace Zun
