#include <gtest/gtest.h>

#include "bus/CQUILRequest.h"
#include "core/CErrorReplyChannelException.h"
#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CWipeFDELogin.h"
#include "tasks/CActivationTask.h"
#include "tasks/CBlockFDEPasswordTask.h"
#include "tasks/CDisableFDEMaintenanceModeTask.h"
#include "tasks/CEnableFDEMaintenanceModeTask.h"
#include "tasks/CInvalidateFDEPasswordTask.h"
#include "tasks/CWipeFDEPasswordTask.h"
#include "tests/tasks/TaskFakes.h"

using namespace TasksTest;
using namespace Zun::Connectors::Common::Tasks;
using namespace Zun::Common::Message::Connectors::QUILConnector;
using Zun::Common::Message::Connectors::Product::Task::CProductActivation;

namespace {

// A task, a valid command for it (three identifiers and content), and, when its request checks its
// content, a command whose request cannot be built.
struct CommandCase {
    std::string function;
    int32_t type;
    boost::shared_ptr<CMessageTask> task;
    MessagePtr valid;
    MessagePtr invalid;
    std::string invalidText;
};

template <typename Task, typename Message>
CommandCase Case(const std::string& function, const CFakeModule& m, const std::function<void(Message&)>& fill,
                 const std::string& invalidText = "") {
    const auto valid = Identified(boost::make_shared<Message>());
    fill(*valid);
    return {function,
            Message::Type,
            boost::make_shared<Task>(m.channel, m.logger, m.factory),
            valid,
            invalidText.empty() ? MessagePtr() : Identified(boost::make_shared<Message>()),
            invalidText};
}

std::vector<CommandCase> Cases(const CFakeModule& m) {
    const auto nothing = [](auto&) {};
    return {
        Case<CActivationTask, CProductActivation>(
            "ACTIVATION", m, [](auto& a) { a.SetManagedActivation("KEY-1"); },
            "CActivationRequest: No activation data was set"),
        Case<CBlockFDEPasswordTask, CBlockFDELogin>("BLOCK_FDE_ENCRYPTION_PASSWORD", m, nothing),
        Case<CInvalidateFDEPasswordTask, CInvalidateFDELogin>("INVALIDATE_FDE_ENCRYPTION_PASSWORD", m,
                                                              nothing),
        Case<CWipeFDEPasswordTask, CWipeFDELogin>("WIPE_FDE_ENCRYPTION_PASSWORD", m, nothing),
        Case<CEnableFDEMaintenanceModeTask, Task::CEnableFDEMaintenanceMode>(
            "ENABLE_MAINTENANCE_MODE", m, [](auto& e) { e.MutableEnableMaintenanceMode().set_seconds(3600); },
            "CEnableFDEMaintenanceModeRequest: Invalid configuration"),
        Case<CDisableFDEMaintenanceModeTask, Task::CDisableFDEMaintenanceMode>("DISABLE_MAINTENANCE_MODE", m,
                                                                               nothing),
    };
}

// A receiver left behind by an earlier query: a command's reply must never reach it.
struct CStaleReceiver : IBufferReceiver {
    void Receive(const Bytes&) override { ++received; }
    int received = 0;
};

}  // namespace

TEST(CommandTasks, ForwardTheCommandDropTheReplyAndTurnFailuresIntoCountedRetries) {
    CFakeModule m;
    const auto stale = boost::make_shared<CStaleReceiver>();
    for (const CommandCase& c : Cases(m)) {
        SCOPED_TRACE(c.function);
        m.channel->sent.clear();
        m.channel->SetBufferReceiver(stale);
        m.channel->Answer(Reply("<VELM/>"));
        m.channel->Fail(CErrorReplyChannelException("CPixlinkChannel: Send request failed with 0x5", 5));
        EXPECT_EQ(c.type, c.task->GetMessageType());
        EXPECT_EQ("ok", Outcome([&] { c.task->Execute(c.valid); }));
        EXPECT_EQ("retry: CPixlinkChannel: Send request failed with 0x5",
                  Outcome([&] { c.task->Execute(c.valid); }));
        EXPECT_EQ("retry: Product does not answer", Outcome([&] { c.task->Execute(c.valid); }));
        if (c.invalid) {
            EXPECT_EQ("retry: " + c.invalidText, Outcome([&] { c.task->Execute(c.invalid); }));
        }
        // A message of another class under the same type is none of this task's business.
        EXPECT_EQ("ok", Outcome([&] { c.task->Execute(boost::make_shared<CQUILRequest>(0)); }));

        ASSERT_EQ(3u, m.channel->sent.size());
        EXPECT_EQ(2u, m.channel->sent[0].Command());
        EXPECT_FALSE(m.channel->sent[0].hadReceiver);
        const std::string body = m.channel->sent[0].Body();
        EXPECT_NE(std::string::npos, body.find("FUNCTION=\"" + c.function + "\""));
        EXPECT_NE(std::string::npos, body.find("VALUE=\"" + Ids + "\""));
    }
    EXPECT_EQ(0, stale->received);
    EXPECT_TRUE(m.logger->lines.empty());
}
