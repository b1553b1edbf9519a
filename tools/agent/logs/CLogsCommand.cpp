#include "tools/agent/logs/CLogsCommand.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>
#include "tools/agent/logs/CFollowWait.h"

#include "tools/agent/logs/CRecordPrinter.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char kName[] = "quil-agent logs: ";
const uint32_t kTaskResultEvent = 10368;
// A task's own record comes before its results, which retries make several.
const size_t kTaskLookup = 16;

}  // namespace

CLogsCommand::CLogsCommand(const CAgentOptions& options, std::ostream& out, std::ostream& errors)
    : m_options(options), m_out(out), m_errors(errors), m_filter(FilterOf(options)) {}

CAgentStore::Filter CLogsCommand::FilterOf(const CAgentOptions& options) {
    CAgentStore::Filter filter;
    filter.types = options.types;
    filter.since = options.since;
    filter.until = options.until;
    filter.task = options.taskId;
    return filter;
}

int CLogsCommand::Run() {
    try {
        // Watched from the start, so that a stop request during the first pages ends the command as
        // cleanly as one while it waits.
        std::unique_ptr<CFollowWait> wait(m_options.follow ? new CFollowWait : nullptr);
        if (wait && !wait->SetupError().empty()) {
            throw std::runtime_error(wait->SetupError());
        }
        CAgentStore store(m_options.database, CAgentStore::Mode::ReadOnly);
        m_position = Start(store);
        while (PrintPage(store) && m_out) {
        }
        if (wait && m_out) {
            Follow(store, *wait);
        }
    } catch (const std::exception& e) {
        m_errors << kName << e.what() << "\n";
        return 1;
    }
    return m_code;
}

// Walks back from the newest row a page at a time, so that -n costs what it shows, not what the
// database holds. -n 0 starts past the newest row, for --follow to show only what comes next.
int64_t CLogsCommand::Start(CAgentStore& store) const {
    if (m_options.limit < 0) {
        return 0;
    }
    std::vector<CAgentStore::Record> newest;
    if (m_options.limit == 0) {
        return store.Scan(CAgentStore::Filter(), 0, 1, CAgentStore::Order::Newest, newest);
    }
    int64_t found = 0;
    for (int64_t from = 0, next = 0;; from = next) {
        newest.clear();
        next = store.Scan(m_filter, from, kPage, CAgentStore::Order::Newest, newest);
        if (next == from) {
            return 0;  // fewer than the limit match: all of them
        }
        for (const CAgentStore::Record& record : newest) {
            if (++found == m_options.limit) {
                return record.sequence - 1;
            }
        }
    }
}

// Flushed a page at a time: a reader on a pipe sees the first rows at once.
bool CLogsCommand::PrintPage(CAgentStore& store) {
    std::vector<CAgentStore::Record> records;
    const int64_t next = store.Scan(m_filter, m_position, kPage, CAgentStore::Order::Oldest, records);
    for (const CAgentStore::Record& record : records) {
        Print(record, store);
    }
    m_out.flush();
    const bool more = next != m_position;
    m_position = next;
    return more;
}

// A task's record carries its identifiers; its description names the task ("BlockFDELogin").
std::string CLogsCommand::TaskName(const std::string& firstId, CAgentStore& store) {
    const auto known = m_taskNames.find(firstId);
    if (known != m_taskNames.end()) {
        return known->second;
    }
    CAgentStore::Filter filter;
    filter.task = firstId;
    std::vector<CAgentStore::Record> records;
    store.Scan(filter, 0, kTaskLookup, CAgentStore::Order::Oldest, records);
    std::string name;
    for (const CAgentStore::Record& record : records) {
        if (record.content.find("\"ids\"") != std::string::npos && record.type != kTaskResultEvent) {
            name = record.description;
            break;
        }
    }
    m_taskNames[firstId] = name;
    return name;
}

void CLogsCommand::Print(const CAgentStore::Record& record, CAgentStore& store) {
    try {
        switch (m_options.format) {
            case CAgentOptions::Format::Json:
                m_out << CRecordPrinter::JsonLine(record);
                break;
            case CAgentOptions::Format::Summary:
                m_out << CRecordPrinter::Summary(
                    record, [this, &store](const std::string& first) { return TaskName(first, store); });
                break;
            case CAgentOptions::Format::Table:
                if (!m_headerShown) {
                    m_out << CRecordPrinter::TableHeader();
                    m_headerShown = true;
                }
                m_out << CRecordPrinter::Table(record) << "\n";
                break;
        }
    } catch (const std::exception& e) {
        m_errors << kName << e.what() << "\n";
        m_code = 1;
    }
}

// Polling is how a reader learns of another process's commits to SQLite; each look costs one
// statement on the primary key.
void CLogsCommand::Follow(CAgentStore& store, CFollowWait& wait) {
    const std::chrono::milliseconds interval(kFollowMilliseconds);
    while (m_out) {
        switch (wait.Wait(interval)) {
            case CFollowWait::Event::Due:
                while (PrintPage(store) && m_out) {
                }
                break;
            case CFollowWait::Event::Stop:
            case CFollowWait::Event::OutputClosed:
                return;
        }
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
