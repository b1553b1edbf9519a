// Tasks queued behind the product when the agent is killed: after a restart each runs exactly once,
// unless it may already have reached the product, in which case it is reported canceled instead.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <map>
#include <string>

#include "tools/agent/store/CAgentStore.h"
#include "tools/demo/CSession.h"

namespace {

using namespace Zun::Tools::Demo;
using Zun::Tools::Agent::CAgentStore;

const std::chrono::seconds kDeadline(40);
const int kTasks = 50;
// Far longer than the test: only a new product ends it. Only a task's request: the queries the
// module runs after it connects or after a task's result pass.
const char* const kHang =
    R"({"op":"fault","kind":"hang","ms":600000,"request":"function WIPE_FDE_ENCRYPTION_PASSWORD"})";
const char* const kCanceledByRestart = "the agent stopped before the task finished";
const std::string kDone = "30";
const std::string kFailed = "40";

std::string FirstId(int task) {
    char id[40];
    std::snprintf(id, sizeof id, "7ede0000-0000-4000-8000-%012d", task);
    return id;
}
std::string Line(int task) {
    const std::string first = FirstId(task);
    return R"({"task":"wipe-password","ids":[")" + first + R"(",")" + first.substr(0, 24) + "1" +
           first.substr(25) + R"(",")" + first.substr(0, 24) + "2" + first.substr(25) + R"("]})";
}

// The final results (state 30 or 40) per task, by first identifier, and how often each came.
struct Outcome {
    std::map<std::string, int> done;
    std::map<std::string, int> canceled;
    std::map<std::string, int> failed;  // failed for another reason
};
Outcome Outcomes(const CPublishedLog& log) {
    Outcome outcome;
    for (const CPublished& event : log.OfType(10368)) {
        const std::string first = event.Symbol(0, 2842);
        const std::string state = event.Symbol(0, 2850);
        if (state == kDone) {
            ++outcome.done[first];
        } else if (state == kFailed) {
            const bool canceled = event.Symbol(0, 2913).find(kCanceledByRestart) != std::string::npos;
            ++(canceled ? outcome.canceled : outcome.failed)[first];
        }
    }
    return outcome;
}

std::vector<CAgentStore::Task> Unfinished(const CSession& session) {
    return CAgentStore(session.Database(), CAgentStore::Mode::ReadOnly).UnfinishedTasks();
}
size_t CountSent(const std::vector<CAgentStore::Task>& tasks) {
    size_t sent = 0;
    for (const CAgentStore::Task& task : tasks) {
        sent += task.state == CAgentStore::TaskState::Handed ? 1 : 0;
    }
    return sent;
}

// Where the kill lands: with the first task's request hung in the product, or before the module
// could send any (no product serves yet, so the module is still connecting).
struct Landing {
    const char* name;
    bool productServes;
    int inFlight;  // tasks whose request left: reported canceled after the restart
};

class RedeliveryTest : public testing::TestWithParam<Landing> {
protected:
    RedeliveryTest() : session(CSession::Options{QUIL_BIN_DIR, QUIL_TESTING_MODULE, false}) {}

    CSession session;
};

TEST_P(RedeliveryTest, TasksThatNeverReachedTheProductRunOnceAfterAKill) {
    const Landing& landing = GetParam();
    session.InstallProduct();
    if (landing.productServes) {
        session.StartProduct();
    }
    session.StartAgent();
    if (landing.productServes) {
        session.Control(kHang);
    }
    for (int task = 0; task < kTasks; ++task) {
        session.Send(Line(task));
    }
    // Killed once every task is stored and the module has sent exactly those it could.
    session.Require(
        "the module to have sent " + std::to_string(landing.inFlight) + " task(s)",
        [&](const CPublishedLog&) {
            const auto tasks = Unfinished(session);
            return tasks.size() == kTasks && CountSent(tasks) == static_cast<size_t>(landing.inFlight);
        },
        kDeadline);
    session.Agent()->Signal(SIGKILL);
    session.Agent()->WaitForExit(After(kDeadline));
    if (landing.productServes) {
        session.Product()->Signal(SIGKILL);  // the hung product is replaced, as an operator would
        session.Product()->WaitForExit(After(kDeadline));
    }

    session.StartProduct();
    session.StartAgent();
    session.Require(
        "a final result for every task",
        [](const CPublishedLog& log) {
            const Outcome outcome = Outcomes(log);
            return outcome.done.size() + outcome.canceled.size() + outcome.failed.size() >= kTasks;
        },
        kDeadline);
    EXPECT_EQ(0, session.StopAgent()) << session.Agent()->Errors();
    const Outcome outcome = Outcomes(session.Published());
    EXPECT_TRUE(outcome.failed.empty()) << outcome.failed.begin()->first;
    for (int task = 0; task < kTasks; ++task) {
        const std::string first = FirstId(task);
        const bool inFlight = task < landing.inFlight;
        EXPECT_EQ(inFlight ? 1 : 0, outcome.canceled.count(first) ? outcome.canceled.at(first) : 0) << first;
        EXPECT_EQ(inFlight ? 0 : 1, outcome.done.count(first) ? outcome.done.at(first) : 0) << first;
    }
    EXPECT_TRUE(Unfinished(session).empty());
}

INSTANTIATE_TEST_SUITE_P(Kills, RedeliveryTest,
                         testing::Values(Landing{"WhileTheFirstHangs", true, 1},
                                         Landing{"BeforeAnyLeftTheQueue", false, 0}),
                         [](const testing::TestParamInfo<Landing>& info) { return info.param.name; });

}  // namespace
