#include "server/service/CFleetView.h"

#include <Poco/JSON/Parser.h>
#include <sstream>
#include <stdexcept>

#include "host/ILoggerResource.h"
#include "tools/agent/host/CAgentStatus.h"
#include "tools/agent/logs/CMessageSummary.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;
using Tools::Agent::CAgentStatus;
using Tools::Agent::CAgentStore;

namespace {

// Types the agent stores that tell about the product.
const int64_t kProtectionStatus = 10044;
const int64_t kConnectorStatus = 10292;
const int64_t kStorageStatus = 10553;
const int64_t kLicences = 10348;
const int64_t kProductStatus = 10405;
const int64_t kTaskResult = 10368;
const int64_t kMaintenanceOn = 740;
const int64_t kMaintenanceOff = 741;
// How far back the product's state is looked for; a row older than that has been outdated long ago.
const int kStateRows = 200;
// The rows per computer a fleet page reads at once; a computer they leave undecided is read on its own.
const int kFleetStateRows = 8;
// A licence log holds one row per licence, published together: the newest batch is enough.
const int kLicenceRows = 20;

Object::Ptr NewObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

CAgentStore::Record AsRecord(const CFleetStore::Row& row) {
    CAgentStore::Record record;
    record.sequence = row.sequence;
    record.time = row.time;
    record.type = static_cast<uint32_t>(row.type);
    record.className = row.className;
    record.description = row.description;
    record.userContext = row.userContext;
    record.content = row.content;
    return record;
}

std::string SummaryLine(const CFleetStore::Row& row) {
    try {
        return row.time + " " + Tools::Agent::CMessageSummary::Line(AsRecord(row));
    } catch (const std::exception&) {
        return row.time + " " + std::to_string(row.type) + " damaged row #" + std::to_string(row.sequence);
    }
}

}  // namespace

namespace {

const std::vector<int64_t> kStateTypes = {kConnectorStatus, kProtectionStatus, kProductStatus, kTaskResult};

// The product's state as the row tells it, by the agent's own rules; empty when it tells nothing.
std::string StateOf(const CFleetStore::Row& row) {
    switch (CAgentStatus::EvidenceOf(static_cast<uint32_t>(row.type), row.content)) {
        case CAgentStatus::Evidence::Answered:
            return CAgentStatus::Name(CAgentStatus::Product::Connected);
        case CAgentStatus::Evidence::NotReachable:
            return CAgentStatus::Name(CAgentStatus::Product::NotReachable);
        case CAgentStatus::Evidence::NotInstalled:
            return CAgentStatus::Name(CAgentStatus::Product::NotInstalled);
        case CAgentStatus::Evidence::None:
            break;
    }
    return std::string();
}

}  // namespace

// The newest row that says something about the product decides.
std::string CFleetView::ProductState(const std::string& name) {
    for (const CFleetStore::Row& row : m_store.NewestRows(name, kStateTypes, kStateRows)) {
        const std::string state = StateOf(row);
        if (!state.empty()) {
            return state;
        }
    }
    return "unknown";
}

// When none of the newest state rows tells of the product and there may be older ones that do,
// those are read (ProductState) as for a single computer.
CFleetView::HostSummary CFleetView::Summary(const CFleetStore::Computer& computer, const NewestRows& newest,
                                            const std::map<std::string, int64_t>& states) {
    HostSummary host;
    host.name = computer.name;
    host.connected = computer.connected;
    host.lastSeen = computer.lastSeen;
    for (auto row = newest.state.begin(); row != newest.state.end() && host.product.empty(); ++row) {
        host.product = StateOf(*row);
    }
    if (host.product.empty()) {
        host.product = newest.state.size() < static_cast<size_t>(kFleetStateRows)
                           ? "unknown"
                           : ProductState(computer.name);
    }
    host.protection = newest.protection.empty() ? std::string() : SummaryLine(newest.protection.front());
    host.storage = computer.encryption;
    host.licenceExpiry = computer.licenceExpiry;
    for (const auto& state : states) {
        host.items += state.second;
        const bool unconfirmed =
            state.first == CFleetStore::kEscrowed || state.first == CFleetStore::kConfirmationSent;
        host.itemsUnconfirmed += unconfirmed ? state.second : 0;
    }
    return host;
}

CFleetView::HostSummary CFleetView::Summary(const CFleetStore::Computer& computer) {
    std::map<std::string, int64_t> states;
    for (const CFleetStore::Item& item : m_store.Items(computer.name)) {
        ++states[item.state];
    }
    const std::vector<CFleetStore::Row> state =
        m_store.NewestRows(computer.name, kStateTypes, kFleetStateRows);
    return Summary(computer, {state, m_store.NewestRows(computer.name, {kProtectionStatus}, 1)}, states);
}

Object::Ptr CFleetView::AsObject(const HostSummary& summary) {
    Object::Ptr host = NewObject();
    host->set("name", summary.name);
    host->set("connected", summary.connected);
    host->set("last_seen", summary.lastSeen);
    host->set("product", summary.product);
    host->set("protection", summary.protection);
    host->set("encryption", summary.storage);
    host->set("licence_expiry", summary.licenceExpiry);
    host->set("items", static_cast<Poco::Int64>(summary.items));
    host->set("items_unconfirmed", static_cast<Poco::Int64>(summary.itemsUnconfirmed));
    return host;
}

std::vector<CFleetStore::Row> CFleetView::NewestOf(const std::string& name,
                                                   const std::vector<CFleetStore::Row>& newest, int64_t type,
                                                   int limit) {
    for (const CFleetStore::Row& row : newest) {
        if (row.type == type) {
            return {row};
        }
    }
    if (newest.size() < static_cast<size_t>(limit)) {
        return {};
    }
    return m_store.NewestRows(name, {type}, 1);
}

namespace {

const std::vector<CFleetStore::Row>& RowsOf(const std::map<std::string, std::vector<CFleetStore::Row>>& rows,
                                            const std::string& computer) {
    static const std::vector<CFleetStore::Row> kNoRows;
    const auto found = rows.find(computer);
    return found == rows.end() ? kNoRows : found->second;
}

}  // namespace

// The whole fleet in a few statements rather than a few per computer.
std::vector<CFleetView::HostSummary> CFleetView::Summaries() {
    typedef std::map<std::string, std::vector<CFleetStore::Row>> RowsByComputer;
    const RowsByComputer newest = m_store.NewestRowsOfAll(kStateTypes, kFleetStateRows);
    const std::map<std::string, std::map<std::string, int64_t>> states = m_store.ItemStates();
    static const std::map<std::string, int64_t> kNoItems;
    const std::vector<CFleetStore::Computer> computers = m_store.Computers();
    std::vector<HostSummary> hosts;
    hosts.reserve(computers.size());
    for (const CFleetStore::Computer& computer : computers) {
        const std::vector<CFleetStore::Row>& state = RowsOf(newest, computer.name);
        const auto items = states.find(computer.name);
        hosts.push_back(Summary(computer,
                                {state, NewestOf(computer.name, state, kProtectionStatus, kFleetStateRows)},
                                items == states.end() ? kNoItems : items->second));
    }
    return hosts;
}

Array::Ptr CFleetView::Hosts() {
    Array::Ptr hosts = new Array;
    for (const HostSummary& summary : Summaries()) {
        hosts->add(AsObject(summary));
    }
    return hosts;
}

Object::Ptr CFleetView::Host(const std::string& name) {
    CFleetStore::Computer computer;
    if (!m_store.FindComputer(name, computer)) {
        throw std::invalid_argument("no computer " + name + " has connected");
    }
    Object::Ptr host = AsObject(Summary(computer));
    host->set("certificate_serial", computer.certificateSerial);
    host->set("instance_uuid", computer.instanceUuid);
    host->set("agent_version", computer.agentVersion);
    host->set("first_seen", computer.firstSeen);
    host->set("committed_through", static_cast<Poco::Int64>(computer.committedThrough));
    host->set("rows", static_cast<Poco::Int64>(m_store.RowCount(name)));
    host->set("storage", Lines(name, {kStorageStatus}, 1));
    host->set("licences", Lines(name, {kLicences}, kLicenceRows));
    host->set("maintenance", Lines(name, {kMaintenanceOn, kMaintenanceOff}, 1));
    host->set("escrow", Escrow(name));
    host->set("task_results", Lines(name, {kTaskResult}, kTaskResults));
    return host;
}

Array::Ptr CFleetView::History(const std::string& name, int limit) {
    return Lines(name, {kProtectionStatus, kConnectorStatus, kStorageStatus, kProductStatus}, limit);
}

Array::Ptr CFleetView::Lines(const std::string& name, const std::vector<int64_t>& types, int limit) {
    Array::Ptr lines = new Array;
    for (const CFleetStore::Row& row : m_store.NewestRows(name, types, limit)) {
        lines->add(SummaryLine(row));
    }
    return lines;
}

Array::Ptr CFleetView::Escrow(const std::string& name) {
    Array::Ptr items = new Array;
    for (const CFleetStore::Item& item : m_store.Items(name)) {
        Object::Ptr entry = NewObject();
        entry->set("kind", item.kind);
        entry->set("internal_id", item.internalId);
        entry->set("device_id", item.deviceId);
        entry->set("index", item.index);
        entry->set("state", item.state);
        entry->set("escrowed", item.escrowedAt);
        entry->set("confirmation_sent", item.confirmationSentAt);
        entry->set("confirmed", item.confirmedAt);
        entry->set("superseded", item.supersededAt);
        items->add(entry);
    }
    return items;
}

Array::Ptr CFleetView::Results(const CFleetStore::Task& task) {
    Array::Ptr results = new Array;
    std::istringstream ids(task.taskIds);
    std::string first;
    if (!(ids >> first)) {
        return results;
    }
    const int everyResult = 1000;
    const std::vector<CFleetStore::Row> rows = m_store.NewestRows(task.computer, {kTaskResult}, everyResult);
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (CAgentStore::CarriesTask(AsRecord(*row), first)) {
            results->add(SummaryLine(*row));
        }
    }
    return results;
}

Array::Ptr CFleetView::Tasks() {
    Array::Ptr tasks = new Array;
    for (const CFleetStore::Task& task : m_store.Tasks()) {
        Object::Ptr entry = NewObject();
        entry->set("id", static_cast<Poco::Int64>(task.id));
        entry->set("computer", task.computer);
        entry->set("purpose", task.purpose);
        entry->set("line", task.line);
        entry->set("state", task.state);
        entry->set("queued", task.queuedAt);
        entry->set("taken", task.takenAt);
        entry->set("answered", task.answeredAt);
        if (task.state == CFleetStore::kAnswered) {
            entry->set("ok", task.ok);
            entry->set("answer", task.answer);
        }
        entry->set("results", Results(task));
        tasks->add(entry);
    }
    return tasks;
}

}  // namespace Server
}  // namespace Zun
