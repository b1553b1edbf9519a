#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agent/host/CAgentStatus.h"

namespace {

using namespace Zun::Tools::Agent;
typedef CAgentStatus::Product Product;

class CNullLog : public Zun::Common::Kernel::ILoggerResource {
public:
    void Write(const std::string&, int, const std::string&) override {}
};

std::string Row(int id, int value) {
    return "{\"rows\":[[{\"id\":" + std::to_string(id) +
           ",\"name\":\"x\",\"type\":\"int32\",\"value\":" + std::to_string(value) + "}]]}";
}

// One thing the module does, in order.
struct Step {
    enum Kind { PingFailed, PingAnswered, Message, Expect } kind;
    uint32_t type;        // Message
    std::string content;  // Message
    Product expected;     // Expect
};

Step Failed() {
    return {Step::PingFailed, 0, "", Product::Starting};
}
Step Answered() {
    return {Step::PingAnswered, 0, "", Product::Starting};
}
Step Published(uint32_t type, const std::string& content) {
    return {Step::Message, type, content, Product::Starting};
}
Step Expect(Product expected) {
    return {Step::Expect, 0, "", expected};
}

const std::string kAllClear = Row(241, 1);
const std::string kUnreachable = Row(241, 6);
const std::string kTaskDone = Row(2850, 30);
const uint32_t kConnector = 10292;
const uint32_t kProtection = 10044;
const uint32_t kTaskResult = 10368;
const uint32_t kProductStatus = 10405;
const std::string kNoRows = "{\"rows\":[]}";

struct StatusCase {
    const char* name;
    std::vector<Step> steps;
    int lost;  // times the product was reported lost
};

// Connected, then three failed pings, each answered by a status row as a product that still
// answers requests does, then the steps given.
std::vector<Step> AfterFailures(std::vector<Step> then) {
    std::vector<Step> steps = {Published(kConnector, "{}"), Expect(Product::Connected)};
    for (int i = 0; i < 3; ++i) {
        steps.insert(steps.end(), {Failed(), Published(kProtection, kAllClear)});
    }
    steps.insert(steps.end(), then.begin(), then.end());
    return steps;
}

const StatusCase kCases[] = {
    {"AnswersBetweenFailingPingsAreNoReturn",
     AfterFailures({Published(kTaskResult, kTaskDone), Expect(Product::NotReachable)}), 1},
    {"AnAnsweredPingIsAReturnAtOnce", AfterFailures({Answered(), Expect(Product::Connected)}), 1},
    {"AConnectIsAReturnAtOnce", AfterFailures({Published(kConnector, "{}"), Expect(Product::Connected)}), 1},
    {"EachLossAfterAReturnIsToldAgain",
     AfterFailures(
         {Answered(), Failed(), Expect(Product::NotReachable), Answered(), Expect(Product::Connected)}),
     2},
    {"NoConnectionAtStartIsNotReachableUntilConnected",
     {Published(kProtection, kUnreachable), Expect(Product::NotReachable), Published(kConnector, "{}"),
      Expect(Product::Connected)},
     0},
    {"NotInstalledStaysWhateverTheLines",
     {Published(kProductStatus, kNoRows), Failed(), Answered(), Expect(Product::NotInstalled)},
     0},
};

class AgentStatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(AgentStatusTest, FollowsWhatTheModuleTells) {
    CNullLog log;
    int lost = 0;
    CAgentStatus status(log, "here", [&](const std::string&) { ++lost; });
    for (const Step& step : GetParam().steps) {
        switch (step.kind) {
            case Step::PingFailed:
                status.Write("Ping failed -> connector will be restarted: 1", 3, "CQUILConnectorModule");
                break;
            case Step::PingAnswered:
                status.Write("Ping answered again after failed pings", 2, "CQUILConnectorModule");
                break;
            case Step::Message:
                status.Observe(step.type, step.content);
                break;
            case Step::Expect:
                EXPECT_EQ(CAgentStatus::Name(step.expected), CAgentStatus::Name(status.State()));
                break;
        }
    }
    EXPECT_EQ(GetParam().lost, lost);
}

INSTANTIATE_TEST_SUITE_P(Pings, AgentStatusTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

}  // namespace
