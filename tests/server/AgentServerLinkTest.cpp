#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <set>

#include "tests/server/CLinkTestBed.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/tools/CAgentProcess.h"

namespace Zun {
namespace Testing {
namespace {

const std::chrono::seconds kDeadline(30);
const uint32_t kBlockPassword = 723;

// The real quil-agent with the real module, linked to the test bed's server.
class AgentServerLinkTest : public ::testing::Test {
protected:
    std::unique_ptr<CAgentProcess> StartAgent(const std::string& bundle) {
        std::unique_ptr<CAgentProcess> agent(new CAgentProcess(
            QUIL_AGENT_PATH,
            {"run", "--db", m_root.Path() + "/agent/agent.db", "--module", QUIL_CONNECTOR_PATH, "--control",
             m_root.Path() + "/agent/agent.sock", "--server", m_bed.Address(), "--server-bundle", bundle,
             "--log-level", "DEBUG"}));
        EXPECT_TRUE(agent->WaitForError("running", kDeadline)) << agent->Errors();
        return agent;
    }

    std::vector<int64_t> RowsOfType(uint32_t type) {
        std::lock_guard<std::mutex> lock(m_bed.Handler().mutex);
        std::vector<int64_t> rows;
        for (const auto& row : m_bed.Handler().rows) {
            if (row.type() == type) {
                rows.push_back(row.sequence());
            }
        }
        return rows;
    }

    CTemporaryObjectRoot m_root;
    CLinkTestBed m_bed;
};

TEST_F(AgentServerLinkTest, TheAgentSendsItsRowsAndTakesEachServerTaskOnceAcrossRestarts) {
    const std::string bundle = m_bed.Enrol("pc-1");
    CRecordingHandler& handler = m_bed.Handler();
    m_bed.Handler().Queue(7, "{\"task\":\"block-password\"}");
    auto agent = StartAgent(bundle);
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 1; }, kDeadline)) << agent->Errors();
    ASSERT_TRUE(handler.WaitFor(
        [&] {
            for (const auto& row : handler.rows) {
                if (row.type() == kBlockPassword && row.user_context() == "server") {
                    return true;
                }
            }
            return false;
        },
        kDeadline))
        << agent->Errors();
    {
        std::lock_guard<std::mutex> lock(handler.mutex);
        EXPECT_TRUE(handler.answers[0].ok());
        EXPECT_NE(std::string::npos, handler.answers[0].answer().find("\"task\":\"block-password\""));
        EXPECT_EQ(std::vector<std::string>{"pc-1"}, handler.computers);
    }
    agent->Signal(SIGINT);
    ASSERT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();
    // Until the server has seen the old stream end, a wake would hand the task to that stream.
    ASSERT_TRUE(handler.WaitFor([&] { return handler.disconnects == 1; }, kDeadline));

    handler.Requeue();  // the answer counts as lost: the server offers the task again
    agent = StartAgent(bundle);
    ASSERT_TRUE(handler.WaitFor([&] { return handler.answers.size() == 2; }, kDeadline)) << agent->Errors();
    agent->Signal(SIGINT);
    ASSERT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();
    EXPECT_EQ(1u, RowsOfType(kBlockPassword).size()) << "a repeated delivery ran again";
    std::lock_guard<std::mutex> lock(handler.mutex);
    std::set<int64_t> seen;
    for (const auto& row : handler.rows) {
        EXPECT_TRUE(seen.insert(row.sequence()).second) << "row " << row.sequence() << " sent twice";
    }
}

TEST_F(AgentServerLinkTest, ARevokedComputerIsToldSoInTheAgentsLog) {
    const std::string bundle = m_bed.Enrol("pc-1");
    m_bed.Authority().Revoke("pc-1");
    m_bed.Handler().Refuse("the certificate of pc-1 was revoked");
    auto agent = StartAgent(bundle);
    EXPECT_TRUE(agent->WaitForError(
        "the server refused this computer's certificate: the certificate of pc-1 was revoked", kDeadline))
        << agent->Errors();
    agent->Signal(SIGINT);
    EXPECT_EQ(0, agent->WaitForExit(kDeadline)) << agent->Errors();
}

// A link that cannot be trusted or is half configured stops the start, naming why.
TEST_F(AgentServerLinkTest, ABadLinkConfigurationStopsTheAgentsStart) {
    const std::string bundle = m_bed.Enrol("pc-1");
    ASSERT_EQ(0, ::chmod(bundle.c_str(), 0666));
    const std::string base = m_root.Path() + "/agent/";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--server", m_bed.Address(), "--server-bundle", bundle}, bundle},
        {{"--server", m_bed.Address()}, "needs both server (HOST:PORT) and server-bundle"},
        {{"--server-bundle", bundle}, "needs both server (HOST:PORT) and server-bundle"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"run",
                                              "--db",
                                              base + "agent.db",
                                              "--module",
                                              QUIL_CONNECTOR_PATH,
                                              "--control",
                                              base + "agent.sock"};
        arguments.insert(arguments.end(), c.first.begin(), c.first.end());
        CAgentProcess agent(QUIL_AGENT_PATH, arguments);
        EXPECT_EQ(1, agent.WaitForExit(kDeadline)) << c.second;
        EXPECT_NE(std::string::npos, agent.Errors().find(c.second)) << agent.Errors();
    }
}

}  // namespace
}  // namespace Testing
}  // namespace Zun
