#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "tools/agent/CAgentOptions.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// `quil-agent logs`: streams the stored messages that match, oldest first, a page at a time, so
// that the first line comes at once and memory stays flat whatever the database holds; with
// --follow it then looks for new rows until it is stopped or its reader goes away.
class CFollowWait;

class CLogsCommand {
public:
    // Rows read per statement.
    static const size_t kPage = 1000;
    // How often --follow looks for new rows.
    static constexpr int kFollowMilliseconds = 250;

    CLogsCommand(const CAgentOptions& options, std::ostream& out, std::ostream& errors);
    // 0 when every row was printed; 1 when the database cannot be read or a row is damaged.
    int Run();

private:
    static CAgentStore::Filter FilterOf(const CAgentOptions& options);
    // The sequence after which printing starts: 0 for all rows, else just before the newest
    // `limit` matching rows.
    int64_t Start(CAgentStore& store) const;
    // Prints what is stored past the position; false once it is all printed.
    bool PrintPage(CAgentStore& store);
    void Print(const CAgentStore::Record& record, CAgentStore& store);
    // The name of the task a first identifier belongs to, from the task's own record.
    std::string TaskName(const std::string& firstId, CAgentStore& store);
    void Follow(CAgentStore& store, CFollowWait& wait);

    const CAgentOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_errors;
    const CAgentStore::Filter m_filter;
    int64_t m_position = 0;
    bool m_headerShown = false;
    int m_code = 0;
    std::map<std::string, std::string> m_taskNames;  // first identifier -> task, "" when not stored
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
