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
        std::string product;        // "connected", "not installed", "not reachable", or "unknown"
        std::string protection;     // the newest protection status as a readable line, or empty
        std::string storage;        // the newest encryption storage status ("in order, level 1"), or empty
        std::string licenceExpiry;  // the soonest expiry of the newest licence log, or empty
        // The disks the product keeps recovery material for, each one it encrypts (the devices of the
        // items not superseded), sorted.
        std::vector<std::string> disks;
        int64_t items = 0;  // escrowed recovery items, in any state
        int64_t itemsUnconfirmed = 0;
    };

    explicit CFleetView(CFleetStore& store) : m_store(store) {}

    // One per computer, by name.
    std::vector<HostSummary> Summaries();
    // The same as JSON objects: name, connected, last_seen, product, protection, encryption (the storage),
    // licence_expiry, disks, items, items_unconfirmed.
    Poco::JSON::Array::Ptr Hosts();
    // Throws std::invalid_argument for a computer the server never saw.
    Poco::JSON::Object::Ptr Host(const std::string& name);
    // Every task with its state and the task result events that came back for its identifiers.
    Poco::JSON::Array::Ptr Tasks();
    // The newest status rows (protection, connector, storage, product) and task results, at most limit
    // of them, oldest first: time, kind ("protection", "connector", "storage", "product", "task"),
    // line (readable), product (the product state the rows so far tell, as Summaries names it).
    Poco::JSON::Array::Ptr Timeline(const std::string& name, int limit);

private:
    void ReadReadings(CFleetStore::Computer& computer);
    HostSummary Summary(CFleetStore::Computer& computer);
    HostSummary Summary(CFleetStore::Computer& computer, const std::map<std::string, int64_t>& states,
                        std::vector<std::string> disks);
    static Poco::JSON::Object::Ptr AsObject(const HostSummary& summary);
    Poco::JSON::Array::Ptr Lines(const std::string& name, const std::vector<int64_t>& types, int limit);
    Poco::JSON::Array::Ptr Escrow(const std::string& name);
    Poco::JSON::Array::Ptr Results(const CFleetStore::Task& task);

    CFleetStore& m_store;
};

}  // namespace Server
}  // namespace Zun
