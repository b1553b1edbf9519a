#include <gtest/gtest.h>

#include "core/CErrorReplyChannelException.h"
#include "host/CApplyPolicy.h"
#include "host/CRequestConfigurationMessage.h"
#include "logs/CEventLog.h"
#include "tasks/CExportConfigurationTask.h"
#include "tasks/CImportConfigurationTask.h"
#include "tests/tasks/TaskFakes.h"

using namespace TasksTest;
using namespace Zun::Connectors::Common::Tasks;
using Zun::Common::Message::Configuration::CRequestConfigurationMessage;
using Zun::Common::Message::Logs::CEventLog;
using Zun::Common::Message::Policies::CApplyPolicy;

namespace {

const std::string Policy("<policy>\0binary tail</policy>", 29);

boost::shared_ptr<CRequestConfigurationMessage> ConfigurationRequest(int productType,
                                                                     bool identified = true) {
    auto request = boost::make_shared<CRequestConfigurationMessage>();
    if (productType >= 0) {
        request->MutableRequestConfiguration().set_producttype(static_cast<uint32_t>(productType));
    }
    return identified ? Identified(request) : request;
}

CExportConfigurationTask ExportTask(const CFakeModule& m) {
    return CExportConfigurationTask(m.channel, m.logger, m.factory, m.publisher, m.instance, {0, 10},
                                    ConnectorId);
}

}  // namespace

TEST(ImportConfigurationTask, RejectedPoliciesAreDoneAndOtherFailuresRestart) {
    const struct {
        std::function<void(CScriptedChannel&)> script;
        std::string outcome;
        std::vector<std::pair<int, std::string>> lines;
    } cases[] = {
        {[](auto& c) { c.Answer(Reply("")); }, "ok", {{2, "Set policy request to product was successfull"}}},
        {[](auto& c) { c.Fail(CErrorReplyChannelException("Send request failed with 0x57", 0x57)); },
         "ok",
         {{4, "Set policy failed: Send request failed with 0x57"}}},
        {[](auto& c) { c.Fail(std::runtime_error("port is gone")); }, "restart: port is gone", {}},
        {[](auto& c) { c.Fail(std::logic_error("bug")); }, "other: bug", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        CFakeModule m;
        c.script(*m.channel);
        CImportConfigurationTask task(m.channel, m.logger, m.factory);
        EXPECT_EQ(c.outcome, Outcome([&] { task.Execute(boost::make_shared<CApplyPolicy>(Policy)); }));
        EXPECT_EQ(109u, m.channel->sent.at(0).Command());
        EXPECT_EQ(Policy, m.channel->sent.at(0).Body());
        EXPECT_EQ(c.lines, m.logger->lines);
    }
}

TEST(ImportConfigurationTask, StoredPolicyIsAppliedAgainOnRequest) {
    CFakeModule m;
    CImportConfigurationTask task(m.channel, m.logger, m.factory);
    task.ApplyStoredPolicy();
    EXPECT_TRUE(m.channel->sent.empty());

    m.channel->Answer(Reply(""));
    m.channel->Answer(Reply(""));
    task.Execute(boost::make_shared<CApplyPolicy>(Policy));
    task.ApplyStoredPolicy();
    ASSERT_EQ(2u, m.channel->sent.size());
    EXPECT_EQ(m.channel->sent[0].payload, m.channel->sent[1].payload);

    // The last message replaces the policy, even one that carries none.
    task.Execute(boost::make_shared<CRequestConfigurationMessage>());
    task.ApplyStoredPolicy();
    EXPECT_EQ(2u, m.channel->sent.size());
}

TEST(ExportConfigurationTask, PublishesTheConfigurationByteForByteThenTheDoneEvent) {
    const std::string large = std::string("<cfg>\0", 6) + std::string(100000, 'x') + "</cfg>";
    for (const std::string& configuration : {large, std::string()}) {
        SCOPED_TRACE(configuration.size());
        CFakeModule m;
        m.channel->Answer(Reply(configuration));
        ExportTask(m).Execute(ConfigurationRequest(10));

        EXPECT_EQ(110u, m.channel->sent.at(0).Command());
        EXPECT_EQ((Row{"1888 int:1", "1886 uuid:" + Instance, "1889 time:now", "1891 res:71000000000081b",
                       "1892 blob:" + configuration}),
                  Symbols(*m.publisher->At<CEventLog>(0, 10244)->GetContainer()));
        EXPECT_EQ((Row{"2836 int:1", "2834 uuid:" + Instance, "2838 time:now",
                       "2842 uuid:11111111-1111-1111-1111-111111111111",
                       "2846 uuid:33333333-3333-3333-3333-333333333333",
                       "2844 uuid:22222222-2222-2222-2222-222222222222", "2848 res:10000000b",
                       "2853 res:71000000000081b", "2850 int:30"}),
                  Symbols(*m.publisher->At<CEventLog>(1, 10368)->GetContainer()));
    }
}

TEST(ExportConfigurationTask, FailuresAreCountedRetriesAndOnlyAcceptedIdentifiedRequestsAreAnswered) {
    CFakeModule m;
    m.channel->Fail(CErrorReplyChannelException("Send request failed with 0x57", 0x57));
    EXPECT_EQ("retry: Send request failed with 0x57",
              Outcome([&] { ExportTask(m).Execute(ConfigurationRequest(0)); }));
    EXPECT_TRUE(m.publisher->published.empty());

    // Product types 3 and none are not exported; a request without task identifiers gets no done event.
    for (const int productType : {3, -1, 0}) {
        m.channel->Answer(Reply("<cfg/>"));
        ExportTask(m).Execute(ConfigurationRequest(productType, false));
    }
    EXPECT_EQ(2u, m.channel->sent.size());
    ASSERT_EQ(1u, m.publisher->published.size());
    m.publisher->At<CEventLog>(0, 10244);
}
