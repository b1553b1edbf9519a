#pragma once

#include <Poco/Data/AbstractBinding.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "server/store/CServerDatabase.h"

namespace Zun {
namespace Server {

// The fleet's tables as the service and the administrator's commands read and write them. Each
// operation is one statement or a few on the database's session; a caller that needs several to
// hold together runs them inside CServerDatabase::InTransaction. No operation updates or deletes
// an audit row.
class CFleetStore {
public:
    struct Computer {
        std::string name;
        std::string certificateSerial;
        std::string instanceUuid;
        std::string agentVersion;
        std::string firstSeen;
        std::string lastSeen;
        bool connected = false;
        int64_t committedThrough = 0;
        std::string connectedVia;  // the server holding its link, when several share the database
        // What its rows told, kept as they arrive (CComputerReadings); readingsKept is false for a
        // computer known before the server kept them, until they are read once from its rows.
        std::string product;        // whether its agent reaches the product, or empty before a row tells
        std::string protection;     // its newest protection status as a readable line, or empty
        std::string encryption;     // what its newest encryption storage status said, or empty
        std::string licenceExpiry;  // the soonest expiry its newest licences named, or empty
        bool readingsKept = true;
    };
    // Readings to write on a computer's row; those left unset stay as they are.
    struct Readings {
        std::optional<std::string> product;
        std::optional<std::string> protection;
        std::optional<std::string> encryption;
        std::optional<std::string> licenceExpiry;
    };
    struct Row {
        int64_t sequence = 0;
        std::string time;
        int64_t type = 0;
        std::string className;
        std::string description;
        std::string userContext;
        std::string content;
    };
    // A recovery password or recovery data block the server keeps, its secret sealed.
    struct Item {
        int64_t id = 0;
        std::string computer;
        std::string kind;  // kPassword or kData
        std::string internalId;
        std::string deviceId;
        std::string index;
        std::string sealed;
        int64_t rowSequence = 0;
        std::string state;
        std::string escrowedAt;
        int64_t confirmationTask = 0;   // the last recovery-response queued for it
        int64_t agentTaskSequence = 0;  // that task's row on the agent, once answered
        std::string confirmationSentAt;
        std::string confirmedAt;
        std::string supersededAt;
    };
    struct Task {
        int64_t id = 0;
        std::string computer;
        std::string line;
        std::string purpose;  // kAdministrator, kConfirmation or kVerification
        std::string taskIds;  // the task's identifiers, space-separated; empty for tasks without
        std::string state;    // kQueued, kTaken or kAnswered
        std::string queuedAt;
        std::string takenAt;
        std::string answeredAt;
        bool ok = false;
        std::string answer;
        int64_t agentSequence = 0;
    };
    struct AuditEntry {
        int64_t id = 0;
        std::string time;
        std::string who;
        int64_t uid = 0;
        std::string action;
        std::string computer;
        std::string items;
        std::string reason;
    };

    static const char* const kPassword;
    static const char* const kData;
    static const char* const kEscrowed;
    static const char* const kConfirmationSent;
    static const char* const kConfirmed;
    static const char* const kSuperseded;
    static const char* const kQueued;
    static const char* const kTaken;
    static const char* const kAnswered;
    static const char* const kAdministrator;
    static const char* const kConfirmation;
    static const char* const kVerification;
    // PostgreSQL's notification channel of queued tasks; each payload is "SERVER COMPUTER".
    static const char* const kTaskChannel;

    explicit CFleetStore(CServerDatabase& database) : m_database(database) {}

    CServerDatabase& Database() { return m_database; }

    // Computers. Returns the sequence committed through for the computer.
    int64_t Connected(const Computer& computer);
    // Marks the computer disconnected unless another server has taken its link meanwhile.
    void Disconnected(const std::string& name, const std::string& via, const std::string& time);
    // A computer the CA issued a certificate to that has not connected yet, so that tasks can wait
    // for it; nothing changes for one that is known.
    void Enrolled(const std::string& name);
    bool FindComputer(const std::string& name, Computer& computer);
    // FindComputer that, inside a transaction, holds the computer's row until it ends (PostgreSQL),
    // so that two servers committing for one computer take turns rather than race.
    bool LockComputer(const std::string& name, Computer& computer);
    std::vector<Computer> Computers();
    // Every computer with only what a fleet's list shows (name, last seen, connected and the kept
    // readings), for the fleet's size: the other columns are left empty.
    std::vector<Computer> FleetList();
    // With the readings the committed rows told, in the same statement.
    void SetCommittedThrough(const std::string& name, int64_t sequence, const std::string& time,
                             const Readings& readings = Readings());
    // The readings read once from the rows of a computer known before the server kept them.
    void SetReadingsKept(const std::string& name, const Readings& readings);

    // Rows: an insert of a row the computer sent before changes nothing and returns false.
    bool InsertRow(const std::string& computer, const Row& row, const std::string& receivedAt);
    // The newest rows of the types, newest first.
    // How many rows of the computer the server holds.
    int64_t RowCount(const std::string& computer);
    std::vector<Row> NewestRows(const std::string& computer, const std::vector<int64_t>& types, int limit);

    // Recovery items.
    bool FindItem(const std::string& computer, const std::string& kind, const std::string& internalId,
                  Item& item);
    // Returns the item's id.
    int64_t InsertItem(const Item& item);
    std::vector<Item> Items(const std::string& computer);
    // What a fleet's list shows of every computer's items, by computer: how many of each state, and
    // the devices of those not superseded, sorted.
    struct ItemSummary {
        std::map<std::string, int64_t> states;
        std::vector<std::string> liveDevices;
    };
    std::map<std::string, ItemSummary> ItemSummaries();
    // Marks items of the same device and kind (and index, for passwords) from earlier rows.
    void SupersedeOlder(const Item& newer, const std::string& time);
    void SetConfirmationTask(int64_t itemId, int64_t task);
    void ConfirmationSent(int64_t task, int64_t agentSequence, const std::string& time);
    void Confirmed(int64_t itemId, const std::string& time);

    // Tasks.
    int64_t QueueTask(const Task& task);
    // The task for each of the computers (task.computer unused), in one statement; their ids in the
    // computers' order.
    std::vector<int64_t> QueueTasks(const Task& task, const std::vector<std::string>& computers);
    // Tells the other servers on the database (PostgreSQL) that a task waits for each computer, once
    // the transaction this runs in commits. SQLite serves one server: nothing to tell.
    void AnnounceTasks(const std::string& server, const std::vector<std::string>& computers);
    // The queued tasks, oldest first, now taken.
    std::vector<Task> TakeQueued(const std::string& computer, const std::string& time);
    // Taken and not answered: queued again, to be offered on the next connection.
    void RequeueTaken(const std::string& computer);
    // Those of the ids that are the computer's and still taken: queued again. Returns how many.
    std::size_t RequeueTasks(const std::string& computer, const std::vector<int64_t>& ids);
    bool FindTask(int64_t id, Task& task);
    void Answer(int64_t id, bool ok, const std::string& answer, int64_t agentSequence,
                const std::string& time);
    std::vector<Task> Tasks();

    // Audit.
    void AppendAudit(const AuditEntry& entry);
    std::vector<AuditEntry> Audit();

private:
    // The statement in the engine's placeholder syntax.
    std::string Q(const std::string& sql) const;
    void UpdateComputer(const std::string& name, const Readings& readings, const std::string& rest,
                        std::vector<Poco::Data::AbstractBinding::Ptr> bindings);
    bool SelectComputer(const std::string& name, const std::string& suffix, Computer& computer);

    CServerDatabase& m_database;
};

}  // namespace Server
}  // namespace Zun
