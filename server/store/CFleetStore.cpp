#include "server/store/CFleetStore.h"

#include <Poco/Data/RecordSet.h>
#include <Poco/Data/Statement.h>
#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace Zun {
namespace Server {

using namespace Poco::Data::Keywords;
using Poco::Data::RecordSet;
using Poco::Data::Session;
using Poco::Data::Statement;

const char* const CFleetStore::kPassword = "password";
const char* const CFleetStore::kData = "data";
const char* const CFleetStore::kEscrowed = "escrowed";
const char* const CFleetStore::kConfirmationSent = "confirmation sent";
const char* const CFleetStore::kConfirmed = "confirmed by the product";
const char* const CFleetStore::kSuperseded = "superseded";
const char* const CFleetStore::kQueued = "queued";
const char* const CFleetStore::kTaken = "taken";
const char* const CFleetStore::kAnswered = "answered";
const char* const CFleetStore::kAdministrator = "administrator";
const char* const CFleetStore::kConfirmation = "confirmation";
const char* const CFleetStore::kVerification = "verification";
const char* const CFleetStore::kTaskChannel = "quil_task_queued";

namespace {

const char* const kComputerColumns =
    "name, certificate_serial, instance_uuid, agent_version, first_seen, last_seen, connected, "
    "committed_through, connected_via, product, protection, encryption, licence_expiry, readings_kept";
const char* const kItemColumns =
    "id, computer, kind, internal_id, device_id, item_index, sealed, row_sequence, state, escrowed_at, "
    "confirmation_task, agent_task_sequence, confirmation_sent_at, confirmed_at, superseded_at";
const char* const kTaskColumns =
    "id, computer, line, purpose, task_ids, state, queued_at, taken_at, answered_at, ok, answer, "
    "agent_sequence";
const char* const kRowColumns = "sequence, time, type, class, description, user_context, content";

std::string Text(RecordSet& set, const std::string& column) {
    return set[column].convert<std::string>();
}

int64_t Number(RecordSet& set, const std::string& column) {
    return set[column].convert<Poco::Int64>();
}

// Reads every row the statement selects through the reader.
template <class T>
std::vector<T> ReadAll(Statement& statement, T (*read)(RecordSet&)) {
    statement.execute();
    RecordSet set(statement);
    std::vector<T> result;
    for (bool more = set.moveFirst(); more; more = set.moveNext()) {
        result.push_back(read(set));
    }
    return result;
}

CFleetStore::Computer ReadComputer(RecordSet& set) {
    CFleetStore::Computer c;
    c.name = Text(set, "name");
    c.certificateSerial = Text(set, "certificate_serial");
    c.instanceUuid = Text(set, "instance_uuid");
    c.agentVersion = Text(set, "agent_version");
    c.firstSeen = Text(set, "first_seen");
    c.lastSeen = Text(set, "last_seen");
    c.connected = Number(set, "connected") != 0;
    c.committedThrough = Number(set, "committed_through");
    c.connectedVia = Text(set, "connected_via");
    c.product = Text(set, "product");
    c.protection = Text(set, "protection");
    c.encryption = Text(set, "encryption");
    c.licenceExpiry = Text(set, "licence_expiry");
    c.readingsKept = Number(set, "readings_kept") != 0;
    return c;
}

CFleetStore::Row ReadRow(RecordSet& set) {
    CFleetStore::Row r;
    r.sequence = Number(set, "sequence");
    r.time = Text(set, "time");
    r.type = Number(set, "type");
    r.className = Text(set, "class");
    r.description = Text(set, "description");
    r.userContext = Text(set, "user_context");
    r.content = Text(set, "content");
    return r;
}

CFleetStore::Item ReadItem(RecordSet& set) {
    CFleetStore::Item i;
    i.id = Number(set, "id");
    i.computer = Text(set, "computer");
    i.kind = Text(set, "kind");
    i.internalId = Text(set, "internal_id");
    i.deviceId = Text(set, "device_id");
    i.index = Text(set, "item_index");
    i.sealed = Text(set, "sealed");
    i.rowSequence = Number(set, "row_sequence");
    i.state = Text(set, "state");
    i.escrowedAt = Text(set, "escrowed_at");
    i.confirmationTask = Number(set, "confirmation_task");
    i.agentTaskSequence = Number(set, "agent_task_sequence");
    i.confirmationSentAt = Text(set, "confirmation_sent_at");
    i.confirmedAt = Text(set, "confirmed_at");
    i.supersededAt = Text(set, "superseded_at");
    return i;
}

CFleetStore::Task ReadTask(RecordSet& set) {
    CFleetStore::Task t;
    t.id = Number(set, "id");
    t.computer = Text(set, "computer");
    t.line = Text(set, "line");
    t.purpose = Text(set, "purpose");
    t.taskIds = Text(set, "task_ids");
    t.state = Text(set, "state");
    t.queuedAt = Text(set, "queued_at");
    t.takenAt = Text(set, "taken_at");
    t.answeredAt = Text(set, "answered_at");
    t.ok = Number(set, "ok") != 0;
    t.answer = Text(set, "answer");
    t.agentSequence = Number(set, "agent_sequence");
    return t;
}

CFleetStore::AuditEntry ReadAudit(RecordSet& set) {
    CFleetStore::AuditEntry a;
    a.id = Number(set, "id");
    a.time = Text(set, "time");
    a.who = Text(set, "who");
    a.uid = Number(set, "uid");
    a.action = Text(set, "action");
    a.computer = Text(set, "computer");
    a.items = Text(set, "items");
    a.reason = Text(set, "reason");
    return a;
}

}  // namespace

std::string CFleetStore::Q(const std::string& sql) const {
    return m_database.Placeholders(sql);
}

// Two statements, whether the computer is known or not: at fleet size a connection's round trips
// are what a server restarted under its agents waits for.
int64_t CFleetStore::Connected(const Computer& c) {
    Poco::Int64 committed = 0;
    m_database.InTransaction([&](Session& session) {
        session << Q(
            "INSERT INTO computers (name, first_seen, last_seen, readings_kept) VALUES (?, ?, ?, 1) "
            "ON CONFLICT (name) DO NOTHING"),
            bind(c.name), bind(c.lastSeen), bind(c.lastSeen), now;
        session << Q(
            "UPDATE computers SET certificate_serial = ?, instance_uuid = ?, agent_version = ?, "
            "last_seen = ?, connected = 1, connected_via = ? WHERE name = ? RETURNING committed_through"),
            bind(c.certificateSerial), bind(c.instanceUuid), bind(c.agentVersion), bind(c.lastSeen),
            bind(c.connectedVia), bind(c.name), into(committed), now;
    });
    return committed;
}

void CFleetStore::Enrolled(const std::string& name) {
    m_database.Use([&](Session& session) {
        session << Q(
            "INSERT INTO computers (name, first_seen, last_seen, readings_kept) VALUES (?, '', '', 1) "
            "ON CONFLICT (name) DO NOTHING"),
            bind(name), now;
    });
}

void CFleetStore::Disconnected(const std::string& name, const std::string& via, const std::string& time) {
    m_database.Use([&](Session& session) {
        session << Q(
            "UPDATE computers SET connected = 0, last_seen = ? WHERE name = ? AND connected_via = ?"),
            bind(time), bind(name), bind(via), now;
    });
}

bool CFleetStore::FindComputer(const std::string& name, Computer& computer) {
    return SelectComputer(name, "", computer);
}

// SQLite has no row locks and needs none: its writers take turns on the whole file.
bool CFleetStore::LockComputer(const std::string& name, Computer& computer) {
    const bool rowLocks = m_database.Kind() == CServerDatabase::Engine::PostgreSQL;
    return SelectComputer(name, rowLocks ? " FOR UPDATE" : "", computer);
}

bool CFleetStore::SelectComputer(const std::string& name, const std::string& suffix, Computer& computer) {
    std::vector<Computer> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kComputerColumns + " FROM computers WHERE name = ?" + suffix),
            bind(name);
        found = ReadAll(select, &ReadComputer);
    });
    if (found.empty()) {
        return false;
    }
    computer = found.front();
    return true;
}

// Every computer, read column by column into typed vectors: at fleet size a record set's variant
// per cell costs more than the database's own work.
std::vector<CFleetStore::Computer> CFleetStore::Computers() {
    std::vector<std::string> names, serials, uuids, versions, firstSeen, lastSeen, via, product, protection,
        encryption, expiry;
    std::vector<Poco::Int64> connected, committed, kept;
    m_database.Use([&](Session& session) {
        session << Q(std::string("SELECT ") + kComputerColumns + " FROM computers ORDER BY name"),
            into(names), into(serials), into(uuids), into(versions), into(firstSeen), into(lastSeen),
            into(connected), into(committed), into(via), into(product), into(protection), into(encryption),
            into(expiry), into(kept), now;
    });
    std::vector<Computer> found(names.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        Computer& c = found[i];
        c.name = std::move(names[i]);
        c.certificateSerial = std::move(serials[i]);
        c.instanceUuid = std::move(uuids[i]);
        c.agentVersion = std::move(versions[i]);
        c.firstSeen = std::move(firstSeen[i]);
        c.lastSeen = std::move(lastSeen[i]);
        c.connected = connected[i] != 0;
        c.committedThrough = committed[i];
        c.connectedVia = std::move(via[i]);
        c.product = std::move(product[i]);
        c.protection = std::move(protection[i]);
        c.encryption = std::move(encryption[i]);
        c.licenceExpiry = std::move(expiry[i]);
        c.readingsKept = kept[i] != 0;
    }
    return found;
}

namespace {

// "column = ?, " for each reading given, and its value, in the order they are named.
std::string ReadingColumns(const CFleetStore::Readings& readings, std::vector<std::string>& values) {
    const std::pair<const char*, const std::optional<std::string>*> columns[] = {
        {"product", &readings.product},
        {"protection", &readings.protection},
        {"encryption", &readings.encryption},
        {"licence_expiry", &readings.licenceExpiry}};
    std::string set;
    for (const auto& column : columns) {
        if (column.second->has_value()) {
            set += std::string(column.first) + " = ?, ";
            values.push_back(column.second->value());
        }
    }
    return set;
}

}  // namespace

// The readings first, then the values the rest of the statement names, then the computer's name.
void CFleetStore::UpdateComputer(const std::string& name, const Readings& readings, const std::string& rest,
                                 std::vector<Poco::Data::AbstractBinding::Ptr> bindings) {
    std::vector<std::string> values;
    const std::string set = ReadingColumns(readings, values);
    m_database.Use([&](Session& session) {
        Statement update(session);
        update << Q("UPDATE computers SET " + set + rest + " WHERE name = ?");
        for (const std::string& value : values) {
            update, bind(value);
        }
        for (const auto& binding : bindings) {
            update, binding;
        }
        update, bind(name), now;
    });
}

std::vector<CFleetStore::Computer> CFleetStore::FleetList() {
    std::vector<std::string> names, lastSeen, product, protection, encryption, expiry;
    std::vector<Poco::Int64> connected, kept;
    m_database.Use([&](Session& session) {
        session << "SELECT name, last_seen, connected, product, protection, encryption, licence_expiry, "
                   "readings_kept FROM computers ORDER BY name",
            into(names), into(lastSeen), into(connected), into(product), into(protection), into(encryption),
            into(expiry), into(kept), now;
    });
    std::vector<Computer> found(names.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        Computer& c = found[i];
        c.name = std::move(names[i]);
        c.lastSeen = std::move(lastSeen[i]);
        c.connected = connected[i] != 0;
        c.product = std::move(product[i]);
        c.protection = std::move(protection[i]);
        c.encryption = std::move(encryption[i]);
        c.licenceExpiry = std::move(expiry[i]);
        c.readingsKept = kept[i] != 0;
    }
    return found;
}

void CFleetStore::SetCommittedThrough(const std::string& name, int64_t sequence, const std::string& time,
                                      const Readings& readings) {
    UpdateComputer(name, readings, "committed_through = ?, last_seen = ?",
                   {bind(static_cast<Poco::Int64>(sequence)), bind(time)});
}

void CFleetStore::SetReadingsKept(const std::string& name, const Readings& readings) {
    UpdateComputer(name, readings, "readings_kept = 1", {});
}

// One statement: the engine says whether the row was new, so a row sent twice costs no lookup.
bool CFleetStore::InsertRow(const std::string& computer, const Row& row, const std::string& receivedAt) {
    std::size_t inserted = 0;
    m_database.Use([&](Session& session) {
        Statement insert(session);
        insert << Q(
            "INSERT INTO agent_rows (computer, sequence, time, type, class, description, user_context, "
            "content, received_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
            "ON CONFLICT (computer, sequence) DO NOTHING"),
            bind(computer), bind(static_cast<Poco::Int64>(row.sequence)), bind(row.time),
            bind(static_cast<Poco::Int64>(row.type)), bind(row.className), bind(row.description),
            bind(row.userContext), bind(row.content), bind(receivedAt);
        inserted = insert.execute();
    });
    return inserted != 0;
}

std::vector<CFleetStore::Row> CFleetStore::NewestRows(const std::string& computer,
                                                      const std::vector<int64_t>& types, int limit) {
    std::ostringstream list;
    for (size_t i = 0; i < types.size(); ++i) {
        list << (i == 0 ? "" : ", ") << types[i];
    }
    std::vector<Row> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kRowColumns +
                    " FROM agent_rows WHERE computer = ? AND type IN (" + list.str() +
                    ") ORDER BY sequence DESC LIMIT " + std::to_string(limit)),
            bind(computer);
        found = ReadAll(select, &ReadRow);
    });
    return found;
}

// Per computer, the sequence of its limit-th newest row of the types bounds what is read: one walk
// down its index each, however long its history, rather than numbering every row of the fleet.
int64_t CFleetStore::RowCount(const std::string& computer) {
    Poco::Int64 count = 0;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q("SELECT COUNT(*) FROM agent_rows WHERE computer = ?"), bind(computer), into(count);
        select.execute();
    });
    return count;
}

bool CFleetStore::FindItem(const std::string& computer, const std::string& kind,
                           const std::string& internalId, Item& item) {
    std::vector<Item> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kItemColumns +
                    " FROM recovery_items WHERE computer = ? AND kind = ? "
                    "AND internal_id = ?"),
            bind(computer), bind(kind), bind(internalId);
        found = ReadAll(select, &ReadItem);
    });
    if (found.empty()) {
        return false;
    }
    item = found.front();
    return true;
}

int64_t CFleetStore::InsertItem(const Item& i) {
    Poco::Int64 id = 0;
    m_database.Use([&](Session& session) {
        session << Q(
            "INSERT INTO recovery_items (computer, kind, internal_id, device_id, item_index, sealed, "
            "row_sequence, state, escrowed_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"),
            bind(i.computer), bind(i.kind), bind(i.internalId), bind(i.deviceId), bind(i.index),
            bind(i.sealed), bind(static_cast<Poco::Int64>(i.rowSequence)), bind(i.state), bind(i.escrowedAt),
            into(id), now;
    });
    return id;
}

// One pass over the items, grouped; a device counts as live when any of its items is.
std::map<std::string, CFleetStore::ItemSummary> CFleetStore::ItemSummaries() {
    std::vector<std::string> computers, states, devices;
    std::vector<Poco::Int64> counts;
    m_database.Use([&](Session& session) {
        session << "SELECT computer, state, device_id, COUNT(*) FROM recovery_items "
                   "GROUP BY computer, device_id, state ORDER BY computer, device_id",
            into(computers), into(states), into(devices), into(counts), now;
    });
    std::map<std::string, ItemSummary> found;
    for (std::size_t i = 0; i < computers.size(); ++i) {
        ItemSummary& summary = found[computers[i]];
        summary.states[states[i]] += counts[i];
        std::vector<std::string>& live = summary.liveDevices;
        if (states[i] != kSuperseded && (live.empty() || live.back() != devices[i])) {
            live.push_back(std::move(devices[i]));
        }
    }
    return found;
}

std::vector<CFleetStore::Item> CFleetStore::Items(const std::string& computer) {
    std::vector<Item> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kItemColumns +
                    " FROM recovery_items WHERE computer = ? ORDER BY id"),
            bind(computer);
        found = ReadAll(select, &ReadItem);
    });
    return found;
}

void CFleetStore::SupersedeOlder(const Item& newer, const std::string& time) {
    const bool password = newer.kind == kPassword;
    m_database.Use([&](Session& session) {
        session << Q(
            "UPDATE recovery_items SET state = ?, superseded_at = ? WHERE computer = ? AND kind = ? "
            "AND device_id = ? AND (? = 0 OR item_index = ?) AND row_sequence < ? AND state <> ?"),
            bind(std::string(kSuperseded)), bind(time), bind(newer.computer), bind(newer.kind),
            bind(newer.deviceId), bind(password ? 1 : 0), bind(newer.index),
            bind(static_cast<Poco::Int64>(newer.rowSequence)), bind(std::string(kSuperseded)), now;
    });
}

void CFleetStore::SetConfirmationTask(int64_t itemId, int64_t task) {
    m_database.Use([&](Session& session) {
        session << Q("UPDATE recovery_items SET confirmation_task = ? WHERE id = ?"),
            bind(static_cast<Poco::Int64>(task)), bind(static_cast<Poco::Int64>(itemId)), now;
    });
}

// Only items still waiting move on: a superseded or confirmed item keeps its state.
void CFleetStore::ConfirmationSent(int64_t task, int64_t agentSequence, const std::string& time) {
    m_database.Use([&](Session& session) {
        session << Q(
            "UPDATE recovery_items SET state = ?, agent_task_sequence = ?, confirmation_sent_at = ? "
            "WHERE confirmation_task = ? AND state IN (?, ?)"),
            bind(std::string(kConfirmationSent)), bind(static_cast<Poco::Int64>(agentSequence)), bind(time),
            bind(static_cast<Poco::Int64>(task)), bind(std::string(kEscrowed)),
            bind(std::string(kConfirmationSent)), now;
    });
}

void CFleetStore::Confirmed(int64_t itemId, const std::string& time) {
    m_database.Use([&](Session& session) {
        session << Q("UPDATE recovery_items SET state = ?, confirmed_at = ? WHERE id = ?"),
            bind(std::string(kConfirmed)), bind(time), bind(static_cast<Poco::Int64>(itemId)), now;
    });
}

int64_t CFleetStore::QueueTask(const Task& t) {
    return QueueTasks(t, {t.computer}).front();
}

namespace {

// "(?, ?), (?, ?)" for two rows of two columns.
std::string Rows(std::size_t rows, const std::string& row) {
    std::string list;
    for (std::size_t i = 0; i < rows; ++i) {
        list += (i == 0 ? "" : ", ") + row;
    }
    return list;
}

}  // namespace

// One statement for all of them: Poco prepares, runs and deallocates each statement, three round
// trips to PostgreSQL, which a statement per computer paid 10,000 times for a task to the fleet.
std::vector<int64_t> CFleetStore::QueueTasks(const Task& t, const std::vector<std::string>& computers) {
    std::vector<Poco::Int64> ids;
    std::vector<std::string> names;
    if (computers.empty()) {
        return {};
    }
    m_database.Use([&](Session& session) {
        Statement insert(session);
        insert << Q("INSERT INTO tasks (computer, line, purpose, task_ids, state, queued_at) VALUES " +
                    Rows(computers.size(), "(?, ?, ?, ?, ?, ?)") + " RETURNING id, computer");
        for (const std::string& computer : computers) {
            insert, bind(computer), bind(t.line), bind(t.purpose), bind(t.taskIds),
                bind(std::string(kQueued)), bind(t.queuedAt);
        }
        insert, into(ids), into(names), now;
    });
    // Ids are drawn in the order of the rows; RETURNING promises no order of its own.
    std::vector<std::pair<int64_t, std::string>> rows;
    for (std::size_t i = 0; i < ids.size() && i < names.size(); ++i) {
        rows.emplace_back(ids[i], names[i]);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<int64_t> ordered;
    for (std::size_t i = 0; i < computers.size(); ++i) {
        if (i >= rows.size() || rows[i].second != computers[i]) {
            throw std::runtime_error(
                "the queued tasks came back not matching the computers they were queued for");
        }
        ordered.push_back(rows[i].first);
    }
    return ordered;
}

void CFleetStore::AnnounceTasks(const std::string& server, const std::vector<std::string>& computers) {
    if (m_database.Kind() != CServerDatabase::Engine::PostgreSQL || computers.empty()) {
        return;
    }
    m_database.Use([&](Session& session) {
        Statement notify(session);
        notify << Q("SELECT pg_notify(?, announced.payload) FROM (VALUES " + Rows(computers.size(), "(?)") +
                    ") AS announced (payload)"),
            bind(std::string(kTaskChannel));
        for (const std::string& computer : computers) {
            notify, bind(server + " " + computer);
        }
        notify.execute();
    });
}

std::vector<CFleetStore::Task> CFleetStore::TakeQueued(const std::string& computer, const std::string& time) {
    std::vector<Task> taken;
    m_database.InTransaction([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kTaskColumns +
                    " FROM tasks WHERE computer = ? AND state = ? ORDER BY id"),
            bind(computer), bind(std::string(kQueued));
        taken = ReadAll(select, &ReadTask);
        for (Task& task : taken) {
            session << Q("UPDATE tasks SET state = ?, taken_at = ? WHERE id = ?"), bind(std::string(kTaken)),
                bind(time), bind(static_cast<Poco::Int64>(task.id)), now;
            task.state = kTaken;
            task.takenAt = time;
        }
    });
    return taken;
}

void CFleetStore::RequeueTaken(const std::string& computer) {
    m_database.Use([&](Session& session) {
        session << Q("UPDATE tasks SET state = ? WHERE computer = ? AND state = ?"),
            bind(std::string(kQueued)), bind(computer), bind(std::string(kTaken)), now;
    });
}

std::size_t CFleetStore::RequeueTasks(const std::string& computer, const std::vector<int64_t>& ids) {
    if (ids.empty()) {
        return 0;
    }
    std::size_t requeued = 0;
    m_database.Use([&](Session& session) {
        Statement update(session);
        update << Q("UPDATE tasks SET state = ? WHERE computer = ? AND state = ? AND id IN (" +
                    Rows(ids.size(), "?") + ")"),
            bind(std::string(kQueued)), bind(computer), bind(std::string(kTaken));
        for (const int64_t id : ids) {
            update, bind(static_cast<Poco::Int64>(id));
        }
        requeued = update.execute();
    });
    return requeued;
}

bool CFleetStore::FindTask(int64_t id, Task& task) {
    std::vector<Task> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kTaskColumns + " FROM tasks WHERE id = ?"),
            bind(static_cast<Poco::Int64>(id));
        found = ReadAll(select, &ReadTask);
    });
    if (found.empty()) {
        return false;
    }
    task = found.front();
    return true;
}

void CFleetStore::Answer(int64_t id, bool ok, const std::string& answer, int64_t agentSequence,
                         const std::string& time) {
    m_database.Use([&](Session& session) {
        session << Q(
            "UPDATE tasks SET state = ?, ok = ?, answer = ?, agent_sequence = ?, answered_at = ? "
            "WHERE id = ?"),
            bind(std::string(kAnswered)), bind(ok ? 1 : 0), bind(answer),
            bind(static_cast<Poco::Int64>(agentSequence)), bind(time), bind(static_cast<Poco::Int64>(id)),
            now;
    });
}

std::vector<CFleetStore::Task> CFleetStore::Tasks() {
    std::vector<Task> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q(std::string("SELECT ") + kTaskColumns + " FROM tasks ORDER BY id");
        found = ReadAll(select, &ReadTask);
    });
    return found;
}

void CFleetStore::AppendAudit(const AuditEntry& a) {
    m_database.Use([&](Session& session) {
        session << Q(
            "INSERT INTO audit (time, who, uid, action, computer, items, reason) "
            "VALUES (?, ?, ?, ?, ?, ?, ?)"),
            bind(a.time), bind(a.who), bind(static_cast<Poco::Int64>(a.uid)), bind(a.action),
            bind(a.computer), bind(a.items), bind(a.reason), now;
    });
}

std::vector<CFleetStore::AuditEntry> CFleetStore::Audit() {
    std::vector<AuditEntry> found;
    m_database.Use([&](Session& session) {
        Statement select(session);
        select << Q("SELECT id, time, who, uid, action, computer, items, reason FROM audit ORDER BY id");
        found = ReadAll(select, &ReadAudit);
    });
    return found;
}

}  // namespace Server
}  // namespace Zun
