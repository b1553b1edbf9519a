#pragma once

#include <Poco/Data/Session.h>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's database (SQLite through Poco::Data): every message that crossed the bus, in
// publication order, and the agent's own settings (its instance UUID). Every failure is a
// std::runtime_error naming the database file. Thread-safe.
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
    struct Filter {
        int64_t type = -1;  // any type when negative
        std::string since;  // ISO 8601 prefix; rows at or after it
    };
    enum class Mode { Create, ReadOnly };
    // Where an agent task stands: stored and answered, handed to the module, or done with (its row
    // then goes). A run that ends early leaves the first two behind for the next run to settle.
    enum class TaskState { Stored = 0, Handed = 1 };
    struct Task {
        int64_t sequence = 0;  // the task's message
        std::string line;      // the task as it was given, with the identifiers it was given
        TaskState state = TaskState::Stored;
    };

    // Create makes the file, its folder and the tables where missing; ReadOnly insists on an
    // existing agent database and never writes to it.
    CAgentStore(const std::string& path, Mode mode);
    ~CAgentStore();

    // Stores the record with the current time; returns its sequence number.
    int64_t Append(const Record& record);
    // Runs work, whose appends then reach the disk together, in one transaction.
    void InTransaction(const std::function<void()>& work);
    std::vector<Record> Query(const Filter& filter);
    // The payload of one record, empty when it has none.
    std::string Payload(int64_t sequence);
    // Keeps a task for its message row; call it in the unit of work that appends the row.
    void AddTask(int64_t sequence, const std::string& line);
    // Moves a task on; a task never goes back to an earlier state.
    void SetTaskState(int64_t sequence, TaskState state);
    void FinishTask(int64_t sequence);
    // The tasks an earlier run left unfinished, oldest first.
    std::vector<Task> UnfinishedTasks();
    // The instance UUID kept in the database; made with `generate` and kept on first use.
    std::string InstanceUUID(const std::function<std::string()>& generate);

    const std::string& Path() const { return m_path; }
    // The current time in the stored format.
    static std::string Now();

private:
    void CreateSchema();
    void CheckSchema();
    void Commit();
    std::runtime_error Failure(const std::string& what, const std::exception& e) const;

    boost::mutex m_lock;
    std::string m_path;
    std::unique_ptr<Poco::Data::Session> m_session;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
