#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agent/host/CAgentStatus.h"

namespace {

using namespace Zun::Tools::Agent;
typedef CAgentStatus::Product Product;
typedef CAgentStatus::Clock Clock;
using std::chrono::milliseconds;

class CNullLog : public Zun::Common::Kernel::ILoggerResource {
public:
    void Write(const std::string&, int, const std::string&) override {}
};

std::string Row(int id, int value) {
    return "{\"rows\":[[{\"id\":" + std::to_string(id) +
           ",\"name\":\"x\",\"type\":\"int32\",\"value\":" + std::to_string(value) + "}]]}";
}

// What happens at a moment, in milliseconds after the start.
struct Step {
    enum Kind { PingFailed, Message, Expect } kind;
    int64_t at;
    uint32_t type;        // Message
    std::string content;  // Message
    Product expected;     // Expect
};

Step Failed(int64_t at) {
    return {Step::PingFailed, at, 0, "", Product::Starting};
}
Step Published(int64_t at, uint32_t type, const std::string& content) {
    return {Step::Message, at, type, content, Product::Starting};
}
Step Expect(int64_t at, Product expected) {
    return {Step::Expect, at, 0, "", expected};
}

const std::string kAllClear = Row(241, 1);
const std::string kUnreachable = Row(241, 6);
const std::string kTaskDone = Row(2850, 30);
const std::string kTaskRetrying = Row(2850, 20);
const std::string kTaskFailed = Row(2850, 40);
const uint32_t kConnector = 10292;
const uint32_t kProtection = 10044;
const uint32_t kTaskResult = 10368;

struct StatusCase {
    const char* name;
    std::vector<Step> steps;
    int lost;  // times the product was reported lost
};

// Pings fail every 100 ms from 1000 ms on, each failure answered at once by a status row when the
// product still answers requests; the quiet time after the last failure is then 2 x 100 ms and the
// margin of a second.
std::vector<Step> FailingUntil(int64_t last, bool answered, std::vector<Step> then) {
    std::vector<Step> steps = {Published(0, kConnector, "{}")};
    for (int64_t at = 1000; at <= last; at += 100) {
        steps.push_back(Failed(at));
        if (answered) {
            steps.push_back(Published(at + 5, kProtection, kAllClear));
        }
    }
    steps.insert(steps.end(), then.begin(), then.end());
    return steps;
}

const StatusCase kCases[] = {
    {"AnswersBetweenFailingPingsAreNoReturn",
     FailingUntil(3000, true, {Expect(3050, Product::NotReachable), Expect(4150, Product::NotReachable)}), 1},
    {"TheLastAnswerCountsOnceThePingsStayQuiet", FailingUntil(3000, true, {Expect(4250, Product::Connected)}),
     1},
    {"ATaskDoneAfterTheQuietTimeIsAReturn",
     FailingUntil(3000, false,
                  {Published(3300, kTaskResult, kTaskDone), Expect(4150, Product::NotReachable),
                   Expect(4250, Product::Connected)}),
     1},
    {"AnswersBeforeALaterFailureDoNotCount",
     FailingUntil(
         3000, false,
         {Published(3300, kProtection, kAllClear), Failed(3400), Expect(9000, Product::NotReachable)}),
     1},
    {"RetriesCancellationsAndTheUnreachableRowAreNoAnswer",
     FailingUntil(3000, false,
                  {Published(3300, kTaskResult, kTaskRetrying), Published(3300, kTaskResult, kTaskFailed),
                   Published(3300, kProtection, kUnreachable), Expect(9000, Product::NotReachable)}),
     1},
    {"AReturnDueBeforeTheNextFailureCountsAsAChange",
     FailingUntil(1000, true, {Failed(23000), Expect(23001, Product::NotReachable)}), 2},
    {"AConnectIsAReturnAtOnce",
     FailingUntil(3000, false, {Published(3010, kConnector, "{}"), Expect(3010, Product::Connected)}), 1},
};

class AgentStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(AgentStatusTest, FollowsWhatTheModulePublishes) {
    CNullLog log;
    Clock::time_point now;
    int lost = 0;
    CAgentStatus status(
        log, "here", [&](const std::string&) { ++lost; }, [&] { return now; });
    const Clock::time_point start = Clock::now();
    for (const Step& step : GetParam().steps) {
        now = start + milliseconds(step.at);
        switch (step.kind) {
            case Step::PingFailed:
                status.Write("Ping failed -> connector will be restarted: 1", 3, "CQUILConnectorModule");
                break;
            case Step::Message:
                status.Observe(step.type, step.content);
                break;
            case Step::Expect:
                EXPECT_EQ(CAgentStatus::Name(step.expected), CAgentStatus::Name(status.State()))
                    << "at " << step.at << " ms";
                break;
        }
    }
    EXPECT_EQ(GetParam().lost, lost);
}

INSTANTIATE_TEST_SUITE_P(Pings, AgentStatusTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

}  // namespace
