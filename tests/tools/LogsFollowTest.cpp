// `quil-agent logs --follow` as a process: it prints rows stored after it started and ends cleanly
// when stopped.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>

#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/tools/CAgentProcess.h"
#include "tools/agent/store/CAgentStore.h"

namespace {

using Zun::Testing::CAgentProcess;
using Zun::Tools::Agent::CAgentStore;

const std::chrono::seconds kDeadline(30);

void Append(const std::string& database, const std::string& version) {
    CAgentStore::Record record;
    record.type = 10292;
    record.className = "CStatusLog";
    record.description = "StatusLog_ConnectorStatus";
    record.content =
        "{\"rows\":[[{\"id\":2143,\"name\":\"version\",\"type\":\"string\",\"value\":\"" + version + "\"}]]}";
    CAgentStore(database, CAgentStore::Mode::Create).Append(record);
}

struct StopCase {
    int signal;
    std::vector<std::string> options;
    bool olderShown;
};

TEST(LogsFollowTest, PrintsRowsStoredLaterUntilStopped) {
    for (const StopCase& c : std::vector<StopCase>{{SIGTERM, {"--follow", "--format", "summary"}, true},
                                                   {SIGINT, {"-f", "-n", "1", "--json"}, false}}) {
        Zun::Testing::CTemporaryObjectRoot root;
        const std::string database = root.Path() + "/agent/agent.db";
        Append(database, "0.9-older");
        Append(database, "1.0-before");
        std::vector<std::string> arguments = {"logs", "--db", database};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        CAgentProcess logs(QUIL_AGENT_PATH, arguments);
        ASSERT_TRUE(logs.WaitForOutput("1.0-before", kDeadline)) << logs.Output() << logs.Errors();
        // A row stored while it waits.
        Append(database, "2.0-after");
        ASSERT_TRUE(logs.WaitForOutput("2.0-after", kDeadline)) << logs.Output() << logs.Errors();
        logs.Signal(c.signal);
        EXPECT_EQ(0, logs.WaitForExit(kDeadline)) << logs.Errors();
        EXPECT_EQ("", logs.Errors());
        EXPECT_EQ(c.olderShown, logs.Output().find("0.9-older") != std::string::npos) << logs.Output();
    }
}

}  // namespace
