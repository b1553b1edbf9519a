#pragma once

#include <Poco/Data/Session.h>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/agent/store/CHandOverMarks.h"

namespace Zun {
namespace Platform {
class CInstanceLock;
}
namespace Tools {
namespace Agent {

class CPayloadCipher;
class CStoreWrites;

// The agent's database (SQLite through Poco::Data): every message that crossed the bus, in
// publication order, and the agent's own settings (its instance UUID). Every failure is a
// std::runtime_error naming the database file. Thread-safe.
//
// The database, its write-ahead log and shared-memory files live in a folder only the agent's user can
// write, are owner-only whatever the umask, and are never reached through a symlink. Payloads are sealed
// (CPayloadCipher) before they are written. One agent at a time writes a database (CInstanceLock); readers
// take no lock.
class CAgentStore {
public:
    struct Record {
        int64_t sequence = 0;
        std::string time;  // ISO 8601 UTC with milliseconds
        uint32_t type = 0;
        std::string className;
        std::string description;
        std::string userContext;
        std::string content;  // JSON object; secrets already masked
        std::string payload;  // the message whole, where it has a serialized form; else empty
    };
    // What `logs` selects; every part left empty selects all. Rows match every part given.
    struct Filter {
        std::vector<uint32_t> types;  // any of them
        std::string since;            // ISO 8601 prefix; rows at or after it
        std::string until;            // ISO 8601 prefix; rows up to its end ("2026-12" takes all of December)
        std::string task;             // a task identifier the row's content carries (see CarriesTask)
    };
    // Where a scan goes from its starting sequence.
    enum class Order { Oldest, Newest };
    // What the database keeps; the oldest messages go first. Zero means no limit (the agent's own
    // defaults are its command line's).
    struct Limits {
        int64_t keepRows;
        int64_t keepDays;
        // With a server link: no row after the one the server acknowledged goes (see Acknowledge),
        // whatever keepRows and keepDays say.
        bool keepUnsent;
    };
    enum class Mode { Create, ReadOnly };
    // What the agent does at start with sealed payloads its key cannot open (a key file lost,
    // emptied or replaced): refuse to start, naming the key file and the way out, or, once the
    // operator says so, drop those payloads (their rows stay, masked content and all) and go on,
    // with a new key when nothing sealed is left.
    enum class Unreadable { Refuse, SetAside };
    // Where an agent task stands: stored and answered (and perhaps waiting in the module's queue),
    // handed to the product (its request is about to leave or has left), or done with (its row then
    // goes). A run that ends early leaves the first two behind for the next run to settle.
    enum class TaskState { Stored = 0, Handed = 1 };
    struct Task {
        int64_t sequence = 0;  // the task's message
        std::string line;      // the task as it was given, with the identifiers it was given
        TaskState state = TaskState::Stored;
    };
    // A transaction whose commit failed: nothing it appended was kept.
    class CommitFailure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Create takes the database's lock, makes the folder, the files and the tables where missing,
    // checks the database and moves a damaged one aside (see Notices); it refuses a SQLite database of
    // another application. ReadOnly insists on an existing agent database, takes no lock and never
    // writes to it.
    CAgentStore(const std::string& path, Mode mode, const Limits& limits = Limits{0, 0, false},
                Unreadable unreadable = Unreadable::Refuse);
    ~CAgentStore();

    // Stores the record with the current time; returns its sequence number. Inside InTransaction the
    // record is kept only once InTransaction returns.
    int64_t Append(const Record& record);
    // Runs work, whose appends then reach the disk together, in one transaction. Throws CommitFailure
    // when the commit failed (the transaction's appends are gone); otherwise what work threw, after
    // committing what it appended.
    void InTransaction(const std::function<void()>& work);
    // Every matching record at once; for small databases (tests, the demo). `logs` scans instead.
    std::vector<Record> Query(const Filter& filter);
    // Reads up to `count` rows past `from` (after it with Order::Oldest, before it with Order::Newest;
    // 0 starts at the respective end), appends those that match to `records` and returns the sequence
    // to continue from: `from` itself once nothing is left. Rows the SQL cannot exclude alone (a task
    // identifier found as text somewhere else) are read but not returned, so fewer than `count` records
    // do not mean the end. Uses the primary key, the type index and the time index, never a sort.
    int64_t Scan(const Filter& filter, int64_t from, size_t count, Order order, std::vector<Record>& records);
    // True when the record is one of the task's: a task message listing the identifier among its ids,
    // or a task result event carrying it as the task's first, second or third identifier.
    static bool CarriesTask(const Record& record, const std::string& task);
    // The payload of one record, unsealed; empty when it has none (or no longer has one).
    std::string Payload(int64_t sequence);
    // Keeps a task for its message row; call it in the unit of work that appends the row.
    void AddTask(int64_t sequence, const std::string& line);
    // Marks the task handed to the product, at once and without a commit: the mark outlives a kill of
    // the agent that comes right after it, and the task's row takes it with the next commit (see
    // CHandOverMarks). A task never goes back to an earlier state.
    void MarkHanded(int64_t sequence);
    void FinishTask(int64_t sequence);
    // The tasks an earlier run left unfinished, oldest first, with the marks not yet committed.
    std::vector<Task> UnfinishedTasks();
    // The records of the type that still hold a payload.
    std::vector<int64_t> WithPayload(uint32_t type);
    // Replaces a record's payload; an empty one removes it, and secure deletion overwrites the old.
    void ReplacePayload(int64_t sequence, const std::string& payload);
    // Drops the oldest messages beyond the limits. Done after commits as they become due.
    void Prune();
    // The highest sequence whose transaction has committed; rows after it may still be rolled back.
    int64_t CommittedThrough();
    // Keeps what the server acknowledged (its committed_through) and lets pruning reach it.
    void Acknowledge(int64_t sequence);
    int64_t Acknowledged();
    // A value of the agent's own, kept with its instance UUID; `fallback` when it has none.
    std::string Setting(const std::string& name, const std::string& fallback);
    void SetSetting(const std::string& name, const std::string& value);
    // What opening had to do that the operator must hear of, such as a damaged database moved aside.
    std::vector<std::string> TakeNotices();
    // The instance UUID kept in the database; made with `generate` and kept on first use.
    std::string InstanceUUID(const std::function<std::string()>& generate);

    const std::string& Path() const { return m_path; }
    // The folder of a file, "." for a bare name.
    static std::string FolderOf(const std::string& path);
    // The current time in the stored format.
    static std::string Now();

    // The file a damaged database is moved to: "<path>.damaged-<UTC time>".
    static std::string DamagedName(const std::string& path, const std::string& utcTime);

private:
    enum class Content { Empty, Agent, Other };

    void OpenForWriting(Unreadable unreadable);
    void OpenForReading();
    void CheckOwnership();
    void Connect();
    Content Classify();
    std::string DamageOf();
    void MoveAside(const std::string& reason);
    void CreateSchema();
    void CheckSchema();
    void CheckPayloadKey(Unreadable unreadable);
    std::vector<int64_t> UnreadablePayloads(size_t& sealed);
    void SealPlainPayloads();
    void FoldLeftMarks();
    std::vector<int64_t> Marked() const;
    void MakeRoomForMarks();
    CHandOverMarks::Pending FoldMarksLocked();
    void PutMarksInRows(const std::vector<int64_t>& sequences);
    void RollBackLocked();
    void Commit(const CHandOverMarks::Pending& marks);
    void PruneDue();
    void PruneLocked();
    int64_t PruneFloor(int64_t through) const;
    std::string SettingLocked(const std::string& name, const std::string& fallback);
    std::string Seal(const std::string& payload);
    std::string SealLine(const std::string& line);
    std::string OpenLine(const std::string& stored);
    CStoreWrites& Writes();
    static std::string ScanStatement(const Filter& filter, Order order, bool from);
    std::runtime_error Failure(const std::string& what, const std::exception& e) const;

    boost::mutex m_mutex;
    boost::condition_variable m_transactionEnded;  // with m_mutex, when m_inTransaction turns false
    std::string m_path;
    Limits m_limits;
    std::unique_ptr<Platform::CInstanceLock> m_lock;
    std::unique_ptr<CPayloadCipher> m_cipher;
    std::unique_ptr<Poco::Data::Session> m_session;
    std::unique_ptr<CStoreWrites> m_writes;   // on m_session, so declared after it; writing stores only
    std::unique_ptr<CHandOverMarks> m_marks;  // writing stores only
    std::vector<std::string> m_notices;
    int64_t m_lastSequence = 0;
    int64_t m_committedThrough = 0;
    bool m_inTransaction = false;
    int64_t m_acknowledged = 0;   // pruning stops here when the limits keep unsent rows
    int64_t m_prunedThrough = 0;  // rows up to this sequence are gone
    int64_t m_lastAgePrune = 0;   // seconds since the epoch
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
