#include "server/service/CFleetView.h"

#include <Poco/JSON/Parser.h>
#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>

#include "host/ILoggerResource.h"
#include "server/service/CComputerReadings.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;
using Tools::Agent::CAgentStore;

namespace {

const int64_t kProtectionStatus = CComputerReadings::kProtectionStatus;
const int64_t kConnectorStatus = CComputerReadings::kConnectorStatus;
const int64_t kStorageStatus = CComputerReadings::kStorageStatus;
const int64_t kLicences = CComputerReadings::kLicences;
const int64_t kProductStatus = CComputerReadings::kProductStatus;
const int64_t kTaskResult = CComputerReadings::kTaskResult;
const int64_t kMaintenanceOn = 740;
const int64_t kMaintenanceOff = 741;
// How far back a computer's state is looked for when its readings are read from its rows; a row
// older than that has been outdated long ago.
const int kStateRows = 200;
// A licence log holds one row per licence, published together: the newest batch is enough.
const int kLicenceRows = 20;
const char* const kUnknown = "unknown";

Object::Ptr NewObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

void Apply(const CFleetStore::Readings& readings, CFleetStore::Computer& computer) {
    computer.product = readings.product.value_or(computer.product);
    computer.protection = readings.protection.value_or(computer.protection);
    computer.encryption = readings.encryption.value_or(computer.encryption);
    computer.licenceExpiry = readings.licenceExpiry.value_or(computer.licenceExpiry);
    computer.readingsKept = true;
}

}  // namespace

// What the service keeps as rows arrive, read here from the rows the computer sent before the
// server kept it, oldest first so that the newest that tells decides; held against rows arriving
// meanwhile by the computer's lock.
void CFleetView::ReadReadings(CFleetStore::Computer& computer) {
    m_store.Database().InTransaction([&](Poco::Data::Session&) {
        CFleetStore::Computer locked;
        if (!m_store.LockComputer(computer.name, locked) || locked.readingsKept) {
            computer = locked.name.empty() ? computer : locked;
            return;
        }
        std::vector<CFleetStore::Row> rows =
            m_store.NewestRows(computer.name, CComputerReadings::StateTypes(), kStateRows);
        for (int64_t type : {kStorageStatus, kLicences}) {
            const std::vector<CFleetStore::Row> newest = m_store.NewestRows(computer.name, {type}, 1);
            rows.insert(rows.end(), newest.begin(), newest.end());
        }
        const std::vector<CFleetStore::Row> protection =
            m_store.NewestRows(computer.name, {kProtectionStatus}, 1);
        rows.insert(rows.end(), protection.begin(), protection.end());
        std::sort(rows.begin(), rows.end(), [](const CFleetStore::Row& a, const CFleetStore::Row& b) {
            return a.sequence < b.sequence;
        });
        CFleetStore::Readings readings;
        for (const CFleetStore::Row& row : rows) {
            CComputerReadings::Take(row, readings);
        }
        m_store.SetReadingsKept(computer.name, readings);
        Apply(readings, locked);
        computer = locked;
    });
}

CFleetView::HostSummary CFleetView::Summary(CFleetStore::Computer& computer,
                                            const std::map<std::string, int64_t>& states,
                                            std::vector<std::string> disks) {
    if (!computer.readingsKept) {
        ReadReadings(computer);
    }
    HostSummary host;
    host.name = computer.name;
    host.connected = computer.connected;
    host.lastSeen = computer.lastSeen;
    host.product = computer.product.empty() ? kUnknown : computer.product;
    host.protection = computer.protection;
    host.storage = computer.encryption;
    host.licenceExpiry = computer.licenceExpiry;
    host.disks = std::move(disks);
    for (const auto& state : states) {
        host.items += state.second;
        const bool unconfirmed =
            state.first == CFleetStore::kEscrowed || state.first == CFleetStore::kConfirmationSent;
        host.itemsUnconfirmed += unconfirmed ? state.second : 0;
    }
    return host;
}

CFleetView::HostSummary CFleetView::Summary(CFleetStore::Computer& computer) {
    std::map<std::string, int64_t> states;
    std::set<std::string> disks;
    for (const CFleetStore::Item& item : m_store.Items(computer.name)) {
        ++states[item.state];
        if (item.state != CFleetStore::kSuperseded) {
            disks.insert(item.deviceId);
        }
    }
    return Summary(computer, states, std::vector<std::string>(disks.begin(), disks.end()));
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
    Array::Ptr disks = new Array;
    for (const std::string& disk : summary.disks) {
        disks->add(disk);
    }
    host->set("disks", disks);
    host->set("items", static_cast<Poco::Int64>(summary.items));
    host->set("items_unconfirmed", static_cast<Poco::Int64>(summary.itemsUnconfirmed));
    return host;
}

// The whole fleet in two statements: what each computer's rows told is kept on its own row.
std::vector<CFleetView::HostSummary> CFleetView::Summaries() {
    std::map<std::string, CFleetStore::ItemSummary> items = m_store.ItemSummaries();
    std::vector<CFleetStore::Computer> computers = m_store.FleetList();
    std::vector<HostSummary> hosts;
    hosts.reserve(computers.size());
    for (CFleetStore::Computer& computer : computers) {
        CFleetStore::ItemSummary& held = items[computer.name];
        hosts.push_back(Summary(computer, held.states, std::move(held.liveDevices)));
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

namespace {

const char* KindOf(int64_t type) {
    switch (type) {
        case kProtectionStatus:
            return "protection";
        case kConnectorStatus:
            return "connector";
        case kStorageStatus:
            return "storage";
        case kProductStatus:
            return "product";
        default:
            return "task";
    }
}

}  // namespace

// Oldest first, each row with what the fleet's list would have said of the product right after it;
// before the first row that tells, within the limit, that is "unknown".
Array::Ptr CFleetView::Timeline(const std::string& name, int limit) {
    static const std::vector<int64_t> kTypes = {kProtectionStatus, kConnectorStatus, kStorageStatus,
                                                kProductStatus, kTaskResult};
    const std::vector<CFleetStore::Row> rows = m_store.NewestRows(name, kTypes, limit);
    CFleetStore::Readings readings;
    Array::Ptr events = new Array;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        CComputerReadings::Take(*row, readings);
        Object::Ptr event = NewObject();
        event->set("time", row->time);
        event->set("kind", std::string(KindOf(row->type)));
        event->set("line", CComputerReadings::Line(*row));
        event->set("product", readings.product.value_or(kUnknown));
        events->add(event);
    }
    return events;
}

Array::Ptr CFleetView::Lines(const std::string& name, const std::vector<int64_t>& types, int limit) {
    Array::Ptr lines = new Array;
    for (const CFleetStore::Row& row : m_store.NewestRows(name, types, limit)) {
        lines->add(CComputerReadings::Line(row));
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
        if (CAgentStore::CarriesTask(CComputerReadings::AsRecord(*row), first)) {
            results->add(CComputerReadings::Line(*row));
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
