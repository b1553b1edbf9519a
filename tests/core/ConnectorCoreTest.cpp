#include <gtest/gtest.h>

#include <atomic>
#include <boost/thread/barrier.hpp>
#include <future>

#include "bus/CQUILRequest.h"
#include "bus/CTaskHandOver.h"
#include "core/CLocalizedException.h"
#include "core/CRestartNeededException.h"
#include "core/CRetryException.h"
#include "host/CBlockFDELogin.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "tests/support/CTestHost.h"
#include "tests/support/CTestModule.h"

using namespace Zun;
using namespace Zun::Testing;
using Common::Message::Connectors::QUILConnector::CQUILRequest;
using Common::Message::Logs::CEventLog;
using Connectors::Common::CConnectorModule;
using Connectors::Common::CRetryException;

namespace {

const char* kMaxRetries = "Message task was canceled because maximum retry count was reached";
const char* kUnavailable = "Message task was canceled because product is not available";

boost::shared_ptr<Common::Kernel::IMessage> AgentTask() {
    auto task = boost::make_shared<Common::Message::Connectors::QUILConnector::CBlockFDELogin>();
    task->SetTaskIdentifiers("11111111-1111-1111-1111-111111111111", "22222222-2222-2222-2222-222222222222",
                             "33333333-3333-3333-3333-333333333333");
    return task;
}

struct Event {
    int64_t code;
    int64_t state;
    int64_t severity;
    std::string text;
};

std::vector<Event> Events(CTestHost& host) {
    std::vector<Event> events;
    for (const auto& p : host.PublishedOfType(10368)) {
        const auto& c = *boost::dynamic_pointer_cast<CEventLog>(p.message)->GetContainer();
        events.push_back(Event{c.GetResId(2848), c.GetInt(2850), c.GetInt(2836),
                               c.HasSymbol(2913) ? c.GetString(2913) : std::string()});
        EXPECT_TRUE(p.message->Equals(*p.message));
        EXPECT_EQ("22222222-2222-2222-2222-222222222222", c.GetUuid(2844).uuid());
        EXPECT_EQ(0x071000000000081BLL, c.GetResId(2853));
    }
    return events;
}

class ConnectorCoreTest : public ::testing::Test {
protected:
    void Make(CConnectorModule::TaskList tasks, bool installed = true, int64_t reconnectMs = 1) {
        module.reset(new CTestModule(link, std::move(tasks), installed, reconnectMs));
        module->Initialize(host);
    }
    void StartConnected() {
        module->Start();
        ASSERT_TRUE(
            host.WaitFor([&] { return host.CountLines("Connected to product, processing tasks", 2) == 1; }));
    }

    CTestHost host;
    CFakeLink link;
    std::unique_ptr<CTestModule> module;
};

TEST_F(ConnectorCoreTest, RetryTwiceThenCancelReportsEventsOnlyForAgentTasks) {
    struct Case {
        boost::shared_ptr<Common::Kernel::IMessage> message;
        size_t events;
        size_t announced;  // hand-overs announced to the host, before the first run
    };
    for (const Case& c : {Case{AgentTask(), 3, 1}, Case{boost::make_shared<CQUILRequest>(0), 0, 0}}) {
        CTestHost host;
        CFakeLink link;
        std::atomic<size_t> announcedAtRun{99};
        auto failing = boost::make_shared<CFakeTask>(c.message->GetType(), [&](int, const auto&) {
            announcedAtRun = host.CountPublished(Common::Message::CTaskHandOver::Type);
            throw CRetryException("link lost");
        });
        CTestModule module(link, {failing});
        module.Initialize(host);
        module.Start();
        const auto sender = boost::make_shared<Common::Kernel::CUserContext>("sender");
        host.Deliver(c.message, sender);
        const std::string line = std::string(kMaxRetries) + ", message was: " + c.message->Describe();
        ASSERT_TRUE(host.WaitFor([&] { return host.CountLines(line, 4) == 1; })) << c.message->Describe();
        EXPECT_EQ(2, failing->Runs());
        EXPECT_EQ(c.announced, announcedAtRun.load()) << "announced before it ran, once however often it ran";
        EXPECT_EQ(3, link.connects.load()) << "the first connect and two reconnects";
        EXPECT_EQ(2u, host.CountLines("Reconnecting to product", 2));
        EXPECT_EQ(2u, host.CountLines("link lost", 4));
        const std::vector<Event> events = Events(host);
        ASSERT_EQ(c.events, events.size());
        for (const auto& p : host.PublishedOfType(10368)) {
            EXPECT_EQ(sender, p.userContext) << "events answer the task's sender";
        }
        if (c.events == 3) {
            for (int i : {0, 1}) {
                EXPECT_EQ(0x10000000CLL, events[i].code);
                EXPECT_EQ(20, events[i].state);
                EXPECT_EQ(1, events[i].severity);
                EXPECT_EQ("link lost", events[i].text);
            }
            EXPECT_EQ(0x10000009BLL, events[2].code);
            EXPECT_EQ(40, events[2].state);
            EXPECT_EQ(4, events[2].severity);
            EXPECT_EQ(kMaxRetries, events[2].text);
        }
        EXPECT_TRUE(host.WaitFor([&] { return module.Terminate(false); }));
    }
}

TEST_F(ConnectorCoreTest, OwnFailuresAreReportedOnceAndNotRetried) {
    struct Case {
        std::function<void()> fail;
        int64_t code;
    };
    const Case cases[] = {
        {[] { throw Common::Module::CLocalizedException("activation refused", 0x100000042ULL); },
         0x100000042LL},
        {[] { throw Common::Module::CLocalizedException("default code"); }, 0x100000007LL},
        {[] { throw std::runtime_error("bad document"); }, 0x10000000CLL},
    };
    for (const Case& c : cases) {
        CTestHost host;
        CFakeLink link;
        auto task = boost::make_shared<CFakeTask>(723, [&](int, const auto&) { c.fail(); });
        CTestModule module(link, {task});
        module.Initialize(host);
        module.Start();
        host.Deliver(AgentTask());
        ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(10368) == 1; }));
        ASSERT_TRUE(module.Terminate(false) || host.WaitFor([&] { return module.Terminate(false); }));
        EXPECT_EQ(1, task->Runs());
        EXPECT_EQ(1, link.connects.load());
        const Event e = Events(host).at(0);
        EXPECT_EQ(c.code, e.code);
        EXPECT_EQ(40, e.state);
        EXPECT_EQ(4, e.severity);
    }
}

TEST_F(ConnectorCoreTest, RestartRequestsRetryWithoutCounting) {
    auto restarting = boost::make_shared<CFakeTask>(9, [](int run, const auto&) {
        if (run <= 4) {
            throw Connectors::Common::CRestartNeededException("restart please");
        }
    });
    auto flagged = boost::make_shared<CFakeTask>(9, [](int run, const auto&) {
        if (run <= 3) {
            throw CRetryException("policy not applied", true);
        }
    });
    Make({restarting, flagged});
    StartConnected();
    host.Deliver(boost::make_shared<CQUILRequest>(1));
    ASSERT_TRUE(host.WaitFor([&] { return flagged->Runs() == 4; }));
    EXPECT_TRUE(host.WaitFor([&] { return module->Terminate(false); }));
    EXPECT_EQ(5, restarting->Runs());
    EXPECT_EQ(4u, host.CountLines("restart please", 2));
    EXPECT_EQ(0u, host.CountLines(std::string(kMaxRetries) + ", message was: QUILRequest", 4));
}

TEST_F(ConnectorCoreTest, TasksOfOneTypeRunInTableOrderEvenAfterAFailure) {
    std::vector<int> order;
    boost::mutex orderLock;
    CConnectorModule::TaskList tasks;
    for (int i = 0; i < 5; ++i) {
        tasks.push_back(boost::make_shared<CFakeTask>(9, [&, i](int, const auto&) {
            {
                boost::lock_guard<boost::mutex> g(orderLock);
                order.push_back(i);
            }
            if (i == 2) {
                throw CRetryException("third failed");
            }
        }));
    }
    auto other = boost::make_shared<CFakeTask>(723);
    tasks.push_back(other);
    Make(tasks);
    StartConnected();
    host.Deliver(boost::make_shared<CQUILRequest>(0));
    ASSERT_TRUE(host.WaitFor([&] {
        boost::lock_guard<boost::mutex> g(orderLock);
        return order.size() == 6;
    }));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 2, 3, 4}), order);
    EXPECT_EQ(0, other->Runs());
    EXPECT_EQ(5u, host.Subscriptions().count(9));
}

TEST_F(ConnectorCoreTest, MessageWithoutTaskIsDroppedSilently) {
    Make({boost::make_shared<CFakeTask>(723)});
    StartConnected();
    const size_t lines = host.Lines().size();
    module->GetSubscriber()->OnMessage(boost::make_shared<CQUILRequest>(0), nullptr);
    ASSERT_TRUE(host.WaitFor([&] { return module->Terminate(false); }));
    EXPECT_EQ(lines + 1, host.Lines().size()) << "only the disconnect line and nothing for the message";
}

// The worker releases a message after the module lock; a message whose release blocks holds the
// worker there, busy but without the lock, so Terminate can look at the queue deterministically.
class CSlowToRelease : public CQUILRequest {
public:
    explicit CSlowToRelease(std::shared_future<void> release) : m_release(std::move(release)) {}
    ~CSlowToRelease() override { m_release.wait(); }

private:
    std::shared_future<void> m_release;
};

TEST_F(ConnectorCoreTest, NonForcedTerminateWaitsForAnIdleWorker) {
    std::promise<void> release;
    // The worker must hold the last reference to the slow message: its first run waits until this
    // thread has let go of its own, or this thread would run the blocking release itself.
    std::promise<void> delivered;
    std::shared_future<void> handedOver = delivered.get_future().share();
    auto task = boost::make_shared<CFakeTask>(9, [handedOver](int run, const auto&) {
        if (run == 1) {
            handedOver.wait();
        }
    });
    Make({task});
    StartConnected();
    host.Deliver(boost::make_shared<CSlowToRelease>(release.get_future().share()));
    delivered.set_value();
    ASSERT_TRUE(host.WaitFor([&] { return task->Runs() == 1; }));
    EXPECT_FALSE(module->Terminate(false)) << "the queue is empty, but the worker is busy";
    host.Deliver(boost::make_shared<CQUILRequest>(1));
    EXPECT_FALSE(module->Terminate(false)) << "a message is queued";
    EXPECT_FALSE(module->Terminate(false)) << "nothing changed by the first call";
    release.set_value();
    ASSERT_TRUE(host.WaitFor([&] { return task->Runs() == 2; }));
    EXPECT_TRUE(host.WaitFor([&] { return module->Terminate(false); }));
    EXPECT_TRUE(module->Terminate(false)) << "a stopped module stays stopped";
    EXPECT_EQ(1u, host.CountLines("Disconnecting from product", 2));
    EXPECT_EQ(0u, host.CountLines("Task processing was interrupted", 4));
}

TEST_F(ConnectorCoreTest, AfterAForcedTerminateTheModuleIsNoLongerBusy) {
    Make({boost::make_shared<CFakeTask>(9)});
    StartConnected();
    EXPECT_TRUE(module->Terminate(true));
    EXPECT_TRUE(module->Terminate(false));
}

TEST_F(ConnectorCoreTest, ForcedTerminateEndsTheWorkerWhereverItWaits) {
    enum Where { Connecting, Idle, Reconnecting };
    for (Where where : {Connecting, Idle, Reconnecting}) {
        CTestHost host;
        CFakeLink link;
        link.failForever = where == Connecting;
        auto task = boost::make_shared<CFakeTask>(9, [](int, const auto&) { throw CRetryException("lost"); });
        // The production interval: only an interruption can end these waits quickly.
        CTestModule module(link, {task}, true, CConnectorModule::ReconnectIntervalMs);
        module.Initialize(host);
        module.Start();
        if (where == Connecting) {
            ASSERT_TRUE(host.WaitFor([&] { return host.CountLines("product unreachable", 4) == 1; }));
        } else {
            ASSERT_TRUE(
                host.WaitFor([&] { return host.CountLines("Connected to product, processing tasks", 2); }));
        }
        if (where == Reconnecting) {
            host.Deliver(boost::make_shared<CQUILRequest>(0));
            ASSERT_TRUE(host.WaitFor([&] { return host.CountLines("lost", 4) == 1; }));
        }
        auto done = std::async(std::launch::async, [&] { return module.Terminate(true); });
        ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(5))) << where;
        EXPECT_TRUE(done.get());
        EXPECT_GE(link.disconnects.load(), 1) << where;
    }
}

TEST_F(ConnectorCoreTest, InterruptedWhileConnectingCancelsQueuedWork) {
    link.failForever = true;
    Make({boost::make_shared<CFakeTask>(723), boost::make_shared<CFakeTask>(9)}, true,
         CConnectorModule::ReconnectIntervalMs);
    module->Start();
    const auto first = boost::make_shared<Common::Kernel::CUserContext>("first");
    const auto second = boost::make_shared<Common::Kernel::CUserContext>("second");
    host.Deliver(AgentTask(), first);
    host.Deliver(boost::make_shared<CQUILRequest>(2));
    host.Deliver(AgentTask(), second);
    ASSERT_TRUE(host.WaitFor([&] { return host.CountLines("product unreachable", 4) >= 1; }));
    EXPECT_TRUE(module->Terminate(false));
    EXPECT_EQ(1u, host.CountLines("Product is not available, canceling tasks", 4));
    EXPECT_EQ(2u, host.CountLines(std::string(kUnavailable) + ", message was: BlockFDELogin", 4));
    EXPECT_EQ(1u, host.CountLines(std::string(kUnavailable) + ", message was: QUILRequest", 4));
    const std::vector<Event> events = Events(host);
    ASSERT_EQ(2u, events.size());
    for (const Event& e : events) {
        EXPECT_EQ(0x10000009BLL, e.code);
        EXPECT_EQ(kUnavailable, e.text);
    }
    const auto published = host.PublishedOfType(10368);
    EXPECT_EQ(first, published[0].userContext) << "each cancellation answers its own task's sender";
    EXPECT_EQ(second, published[1].userContext);
    EXPECT_EQ(0u, module->GetSubscriber()->GetQueueLength());
}

TEST_F(ConnectorCoreTest, FailedConnectsAreRetriedUntilTheProductAnswers) {
    link.failConnects = 3;
    Make({boost::make_shared<CFakeTask>(9)});
    StartConnected();
    EXPECT_EQ(4, link.connects.load());
    EXPECT_EQ(3, link.disconnects.load());
    EXPECT_EQ(3u, host.CountLines("product unreachable", 4));
    EXPECT_EQ(1u, host.CountLines("Connecting to product", 2));
}

TEST_F(ConnectorCoreTest, RepliesCarryTheUserContextOfTheirMessage) {
    auto echo = boost::make_shared<CFakeTask>(
        9, [&](int, const auto&) { module->Publish(boost::make_shared<CQUILRequest>(3)); });
    Make({echo});
    StartConnected();
    auto alice = boost::make_shared<Common::Kernel::CUserContext>("alice");
    host.Deliver(boost::make_shared<CQUILRequest>(0), alice);
    host.Deliver(boost::make_shared<CQUILRequest>(0));
    ASSERT_TRUE(host.WaitFor([&] { return host.CountPublished(9) == 2; }));
    const auto published = host.PublishedOfType(9);
    EXPECT_EQ(alice, published[0].userContext);
    ASSERT_TRUE(published[1].userContext != nullptr);
    EXPECT_TRUE(published[1].userContext->IsDefault());
}

TEST_F(ConnectorCoreTest, StopEndsTheConnectionAndCancelsEveryTask) {
    CConnectorModule::TaskList tasks;
    for (int32_t type : {9, 9, 723, 5}) {
        tasks.push_back(boost::make_shared<CFakeTask>(type));
    }
    Make(tasks);
    StartConnected();
    module->Stop();
    EXPECT_EQ(1, link.stops.load());
    for (const auto& task : tasks) {
        EXPECT_TRUE(task->IsCancelled()) << "task of type " << task->GetMessageType();
    }
    EXPECT_TRUE(module->Terminate(true));
}

TEST_F(ConnectorCoreTest, DeactivatedModuleOnlyPublishesItsEmptyProductStatus) {
    Make({boost::make_shared<CFakeTask>(9)}, false);
    module->Start();
    module->Stop();
    EXPECT_TRUE(module->Terminate(false));
    EXPECT_EQ(1u,
              host.CountLines(
                  "Connector was deactivated. No tasks will be processed and no logs will be produced.", 2));
    EXPECT_TRUE(host.Subscriptions().empty());
    const auto logs = host.PublishedOfType(10405);
    ASSERT_EQ(1u, logs.size());
    auto log = boost::dynamic_pointer_cast<Common::Message::Logs::CMultiProductStatusLog>(logs[0].message);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->IsReadOnly());
    EXPECT_EQ(0u, log->GetRows()->GetRowCount());
    EXPECT_EQ(1u, log->GetProductIdentifier()->GetCount());
    EXPECT_EQ(0x071000000000081CLL, log->GetProductIdentifier()->GetResId(4429));
}

TEST_F(ConnectorCoreTest, MissingRequiredResourceFailsInitialize) {
    for (int number : {1, 2, 3, 4, 12}) {
        CTestHost host;
        host.Drop(number);
        CTestModule module(link, {});
        try {
            module.Initialize(host);
            ADD_FAILURE() << "resource " << number << " not required";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(0u, std::string(e.what()).find("Bad cast to Zun::Common::Kernel::I")) << e.what();
        }
    }
}

TEST_F(ConnectorCoreTest, SeveritiesMapToHostLevels) {
    Make({});
    const int expected[] = {2, 1, 2, 3, 4, 4, 4};
    for (int severity = 0; severity <= 6; ++severity) {
        module->Log(severity) << "severity " << severity;
        module->Log(severity);  // an entry without text writes nothing
    }
    const auto lines = host.Lines();
    ASSERT_EQ(7u, lines.size());
    for (int severity = 0; severity <= 6; ++severity) {
        EXPECT_EQ(expected[severity], lines[severity].level);
        EXPECT_EQ("CQUILConnectorModule", lines[severity].source);
    }
}

TEST(SubscriberTest, DescribeQueueListsQueuedMessages) {
    Common::Module::CSubscriber subscriber("CQUILConnectorModule");
    std::string text = "stale";
    EXPECT_TRUE(subscriber.DescribeQueue(text));
    EXPECT_EQ("", text);
    subscriber.OnMessage(boost::make_shared<CQUILRequest>(0), nullptr);
    subscriber.OnMessage(boost::make_shared<CQUILRequest>(1), nullptr);
    EXPECT_FALSE(subscriber.DescribeQueue(text));
    EXPECT_EQ("CQUILConnectorModule:QUILRequest,QUILRequest", text);
    int visited = 0;
    subscriber.ForEachQueued([&](const auto&) { ++visited; });
    EXPECT_EQ(2, visited);
    EXPECT_FALSE(subscriber.StopIfIdle()) << "messages are queued";
}

}  // namespace
