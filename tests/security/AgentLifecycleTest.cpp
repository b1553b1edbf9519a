// The agent as an operator meets it: stopped while the product hangs, killed in the middle of
// work and started again, its log rotated under it.
#include <gtest/gtest.h>
#include <signal.h>

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/agent/store/CAgentStore.h"
#include "tools/demo/CSession.h"

namespace {

using namespace Zun::Tools::Demo;
using Zun::Tools::Agent::CAgentStore;

const std::chrono::seconds kDeadline(20);
// Far longer than the agent's grace period of 5 s, so that only a forced stop ends it in time. Only the
// test's own task: the queries the module runs after it connects pass.
std::string HangOn(const std::string& function) {
    return R"({"op":"fault","kind":"hang","ms":600000,"request":"function )" + function + "\"}";
}
const char* const kCanceledByRestart = "the agent stopped before the task finished";
const int kExitForced = 2;

std::string Ids(char task) {
    const std::string stem = "5ec00000-0000-4000-8000-0000000000";
    return "[\"" + stem + "0" + task + "\",\"" + stem + "1" + task + "\",\"" + stem + "2" + task + "\"]";
}
std::string FirstId(char task) {
    return "5ec00000-0000-4000-8000-00000000000" + std::string(1, task);
}

int64_t SequenceOf(const std::string& answer) {
    Poco::JSON::Parser parser;
    return parser.parse(answer).extract<Poco::JSON::Object::Ptr>()->getValue<Poco::Int64>("sequence");
}

class AgentLifecycleTest : public testing::Test {
protected:
    AgentLifecycleTest() : session(CSession::Options{QUIL_BIN_DIR, QUIL_TESTING_MODULE, false}) {}

    void StartConnected() {
        session.InstallProduct();
        session.StartProduct();
        session.StartAgent();
        WaitStored("the connector's first status",
                   [](const CPublishedLog& log) { return log.Count(10292) >= 1; });
    }
    void WaitStored(const std::string& what, const std::function<bool(const CPublishedLog&)>& condition) {
        session.Require(what, condition, kDeadline);
    }
    bool WaitProductLine(const std::string& text) {
        CChildProcess* product = session.Product();
        return CChildProcess::WaitUntil(
            {product}, [&] { return product->Errors().find(text) != std::string::npos; }, After(kDeadline));
    }
    // The task result event for the task whose first identifier is given; null when there is none.
    static std::function<bool(const CPublishedLog&)> HasResult(const std::string& first,
                                                               const std::string& text) {
        return [first, text](const CPublishedLog& log) {
            for (const CPublished& event : log.OfType(10368)) {
                if (event.Symbol(0, 2842) == first && event.Symbol(0, 2913).find(text) != std::string::npos) {
                    return true;
                }
            }
            return false;
        };
    }

    CSession session;
};

TEST_F(AgentLifecycleTest, SigtermEndsTheAgentWithinItsGraceWhileTheProductHangs) {
    StartConnected();
    session.Control(HangOn("BLOCK_FDE_ENCRYPTION_PASSWORD"));
    session.Send(R"({"task":"block-password","ids":)" + Ids('a') + "}");
    ASSERT_TRUE(WaitProductLine("injecting fault hang")) << session.Product()->Errors();
    session.Agent()->Signal(SIGTERM);
    // Without the forced stop the agent waits for the product's ten minutes.
    EXPECT_EQ(kExitForced, session.Agent()->WaitForExit(After(kDeadline))) << session.Agent()->Errors();
    EXPECT_NE(std::string::npos, session.Agent()->Errors().find("forcing it"));
    EXPECT_EQ(1u, session.Published().Count(723)) << "the task was stored before the agent went";
}

TEST_F(AgentLifecycleTest, SighupReopensTheLogAndTheAgentGoesOn) {
    StartConnected();
    // The agent's memory, which holds recovery passwords, never lands in a core file.
    std::ifstream limits("/proc/" + std::to_string(session.Agent()->Pid()) + "/limits");
    const std::string text((std::istreambuf_iterator<char>(limits)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(std::regex_search(text, std::regex("Max core file size +0 +0 "))) << text;
    session.Agent()->Signal(SIGHUP);
    session.RequireAgentLine("Reopening the log file", 0, kDeadline);
    session.Send(R"({"task":"maintenance-off"})");
    EXPECT_EQ(0, session.StopAgent()) << session.Agent()->Errors();
}

// Every answered task is stored; after a kill, or a forced stop that ended the module, the task whose
// request hung in the product is reported canceled (it may have run) and the two the module still
// had queued run once.
struct Ending {
    const char* name;
    int signal;
    int exitCode;  // -1: killed
};

class AgentEndingTest : public AgentLifecycleTest, public testing::WithParamInterface<Ending> {};

TEST_P(AgentEndingTest, TasksAnsweredBeforeTheEndAreStoredAndSettledOnRestart) {
    StartConnected();
    session.Control(HangOn("WIPE_FDE_ENCRYPTION_PASSWORD"));
    std::vector<int64_t> answered;
    for (char task : std::string("bcd")) {
        answered.push_back(SequenceOf(session.Send(R"({"task":"wipe-password","ids":)" + Ids(task) + "}")));
    }
    ASSERT_TRUE(WaitProductLine("injecting fault hang")) << session.Product()->Errors();
    WaitStored("the first task to be sent to the product", [&](const CPublishedLog&) {
        const auto tasks = CAgentStore(session.Database(), CAgentStore::Mode::ReadOnly).UnfinishedTasks();
        return tasks.size() == 3 && tasks[0].state == CAgentStore::TaskState::Handed;
    });
    session.Agent()->Signal(GetParam().signal);
    if (GetParam().exitCode >= 0) {
        // The product goes once the forced stop began: the worker's request fails and the worker
        // ends, so that the forced stop completes instead of leaving the module's threads behind.
        session.RequireAgentLine("forcing it", 0, kDeadline);
        session.Product()->Signal(SIGKILL);
    }
    const int code = session.Agent()->WaitForExit(After(kDeadline));
    if (GetParam().exitCode >= 0) {
        EXPECT_EQ(GetParam().exitCode, code) << session.Agent()->Errors();
        EXPECT_EQ(std::string::npos, session.Agent()->Errors().find("leaving them behind"))
            << "the forced stop was meant to end the module";
    }
    EXPECT_EQ(3u, CAgentStore(session.Database(), CAgentStore::Mode::ReadOnly).UnfinishedTasks().size())
        << "every task the module had is left for the next start to settle";
    std::set<int64_t> stored;
    for (const CPublished& task : session.Published().OfType(722)) {
        stored.insert(task.Sequence());
    }
    for (int64_t sequence : answered) {
        EXPECT_EQ(1u, stored.count(sequence)) << "answered #" << sequence << " but not stored";
    }

    // The product that hung is replaced, as an operator would.
    session.Product()->Signal(SIGKILL);
    session.Product()->WaitForExit(After(kDeadline));
    session.StartProduct();
    session.StartAgent();
    WaitStored("the cancellation of task b", HasResult(FirstId('b'), kCanceledByRestart));
    for (char task : std::string("cd")) {
        WaitStored(std::string("the product's result for task ") + task, HasResult(FirstId(task), ""));
    }
    EXPECT_EQ(3u, session.Published().Count(722)) << "a task was stored again";
    EXPECT_EQ(0, session.StopAgent()) << session.Agent()->Errors();
    session.StartAgent();
    EXPECT_EQ(0, session.StopAgent()) << "settled tasks are settled once";
    size_t canceled = 0;
    for (const CPublished& event : session.Published().OfType(10368)) {
        canceled += event.Symbol(0, 2913).find(kCanceledByRestart) != std::string::npos;
    }
    EXPECT_EQ(1u, canceled);
}

INSTANTIATE_TEST_SUITE_P(Endings, AgentEndingTest,
                         testing::Values(Ending{"Killed", SIGKILL, -1},
                                         Ending{"ForcedStop", SIGTERM, kExitForced}),
                         [](const testing::TestParamInfo<Ending>& info) { return info.param.name; });

// A task stored and answered whose run ended before the module got it is delivered on restart.
TEST_F(AgentLifecycleTest, ATaskTheModuleNeverGotIsDeliveredAfterARestart) {
    session.InstallProduct();
    session.StartProduct();
    {
        session.StartAgent();
        EXPECT_EQ(0, session.StopAgent());
        CAgentStore store(session.Database(), CAgentStore::Mode::Create);
        CAgentStore::Record record;
        record.type = 723;
        record.className = "CBlockFDELogin";
        record.description = "BlockFDELogin";
        record.userContext = "stdin";
        record.content = "{}";
        const std::string line = R"({"task":"block-password","ids":)" + Ids('e') + "}";
        store.InTransaction([&] { store.AddTask(store.Append(record), line); });
    }
    session.StartAgent();
    session.RequireAgentLine("again: the last run stopped before it reached the product", 0, kDeadline);
    // The product reports what it carried out under the task's first identifier.
    WaitStored("the product's result for the delivered task", HasResult(FirstId('e'), ""));
    EXPECT_EQ(0, session.StopAgent());
}

// The module keeps the last policy to apply it again after each reconnect, so its release never
// comes: the task still ends once the module has it, and a restart does not apply it a second time.
TEST_F(AgentLifecycleTest, APolicyThatRanEndsAndIsNotDeliveredAgainAfterARestart) {
    const std::string applied = "Set policy request to product was successfull";
    StartConnected();
    session.Send(R"({"task":"policy","configuration":"<Policy/>"})");
    session.RequireAgentLine(applied, 0, kDeadline);
    WaitStored("the policy task to end", [&](const CPublishedLog&) {
        return CAgentStore(session.Database(), CAgentStore::Mode::ReadOnly).UnfinishedTasks().empty();
    });
    const std::string status = session.Send(R"({"op":"status"})");
    EXPECT_NE(std::string::npos, status.find("\"unfinished_tasks\":0")) << status;
    EXPECT_EQ(0, session.StopAgent());

    session.StartAgent();
    // Once the module reached the product again it would have applied a delivered policy.
    WaitStored("the connector's status after the restart",
               [](const CPublishedLog& log) { return log.Count(10292) >= 2; });
    EXPECT_EQ(0, session.StopAgent());
    const std::string second = session.Agent()->Errors();
    EXPECT_EQ(std::string::npos, second.find("again: the last run")) << second;
    EXPECT_EQ(std::string::npos, second.find(applied)) << "applied again: " << second;
}

}  // namespace
