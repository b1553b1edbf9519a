#include <gtest/gtest.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <vector>

#include "bus/CQUILRequest.h"
#include "bus/CTaskHandOver.h"
#include "host/CBlockFDELogin.h"
#include "tools/agent/host/CAgentBus.h"

namespace {

using namespace Zun::Common::Kernel;
using Zun::Common::Message::CTaskHandOver;
using Zun::Common::Message::Connectors::QUILConnector::CBlockFDELogin;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;
using Zun::Tools::Agent::CAgentBus;

const boost::chrono::seconds kDeadline(10);

class CQuietLogger : public ILoggerResource {
public:
    void Write(const std::string& text, int, const std::string&) override {
        boost::lock_guard<boost::mutex> guard(lock);
        lines.push_back(text);
    }
    boost::mutex lock;
    std::vector<std::string> lines;
};

// What the bus's recorder saw, shared with subscribers that check it.
struct CJournal {
    boost::mutex lock;
    std::vector<boost::shared_ptr<IMessage>> recorded;
    bool Has(const boost::shared_ptr<IMessage>& message) {
        boost::lock_guard<boost::mutex> guard(lock);
        return std::find(recorded.begin(), recorded.end(), message) != recorded.end();
    }
};

class CRecordingSubscriber : public ISubscriber {
public:
    explicit CRecordingSubscriber(CJournal& journal) : m_journal(journal) {}
    void OnMessage(const boost::shared_ptr<IMessage>& message,
                   const boost::shared_ptr<CUserContext>&) override {
        boost::lock_guard<boost::mutex> guard(lock);
        received.push_back(message);
        threads.push_back(boost::this_thread::get_id());
        recordedFirst.push_back(m_journal.Has(message));
        if (onMessage) {
            onMessage(message);
        }
    }
    bool DescribeQueue(std::string&) override { return false; }
    void ForEachQueued(const QueueVisitor&) override {}
    size_t Count() {
        boost::lock_guard<boost::mutex> guard(lock);
        return received.size();
    }

    boost::mutex lock;
    std::vector<boost::shared_ptr<IMessage>> received;
    std::vector<boost::thread::id> threads;
    std::vector<bool> recordedFirst;
    std::function<void(const boost::shared_ptr<IMessage>&)> onMessage;

private:
    CJournal& m_journal;
};

class CAgentBusTest : public ::testing::Test {
protected:
    CAgentBusTest()
        : bus(
              [this](const CAgentBus::MessagePtr& m, const CAgentBus::ContextPtr&) {
                  boost::lock_guard<boost::mutex> guard(journal.lock);
                  journal.recorded.push_back(m);
                  return static_cast<int64_t>(journal.recorded.size());
              },
              logger) {}

    boost::shared_ptr<CRecordingSubscriber> NewSubscriber() {
        return boost::make_shared<CRecordingSubscriber>(journal);
    }

    CQuietLogger logger;
    CJournal journal;
    CAgentBus bus;
};

TEST_F(CAgentBusTest, EachSubscriberGetsAMessageOnceHoweverOftenItSubscribed) {
    auto module = NewSubscriber();
    auto other = NewSubscriber();
    auto unrelated = NewSubscriber();
    for (int i = 0; i < 5; ++i) {
        bus.Subscribe(module, CQUILRequest::Type);  // as a module with five tasks of type 9 does
    }
    bus.Subscribe(other, CQUILRequest::Type);
    bus.Subscribe(unrelated, CBlockFDELogin::Type);
    bus.Start();
    auto request = boost::make_shared<CQUILRequest>(1);
    bus.Publish(request, boost::make_shared<CUserContext>("me"));
    ASSERT_TRUE(bus.WaitIdle(kDeadline));
    EXPECT_EQ(1u, module->Count());
    EXPECT_EQ(1u, other->Count());
    EXPECT_EQ(0u, unrelated->Count());
    EXPECT_EQ(request, module->received.at(0));
}

TEST_F(CAgentBusTest, StoresBeforeDeliveringOffThePublishersThreadAndInOrder) {
    auto module = NewSubscriber();
    bus.Subscribe(module, CBlockFDELogin::Type);
    bus.Start();
    // The publisher holds a lock its subscriber needs; delivery on its own thread would deadlock.
    boost::mutex moduleLock;
    module->onMessage = [&](const boost::shared_ptr<IMessage>&) {
        boost::lock_guard<boost::mutex> g(moduleLock);
    };
    std::vector<boost::shared_ptr<IMessage>> sent;
    {
        boost::lock_guard<boost::mutex> guard(moduleLock);
        for (int i = 0; i < 50; ++i) {
            sent.push_back(boost::make_shared<CBlockFDELogin>());
            bus.Publish(sent.back(), boost::shared_ptr<CUserContext>());
        }
    }
    ASSERT_TRUE(bus.WaitIdle(kDeadline));
    ASSERT_EQ(sent, module->received);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_NE(boost::this_thread::get_id(), module->threads[i]);
        EXPECT_TRUE(module->recordedFirst[i]) << "message " << i << " was delivered before it was stored";
    }
}

TEST_F(CAgentBusTest, ASubscriberMayPublishWhileItIsServed) {
    auto module = NewSubscriber();
    bus.Subscribe(module, CBlockFDELogin::Type);
    module->onMessage = [this](const boost::shared_ptr<IMessage>&) {
        bus.Publish(boost::make_shared<CQUILRequest>(2), boost::shared_ptr<CUserContext>());
    };
    bus.Start();
    bus.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    ASSERT_TRUE(bus.WaitIdle(kDeadline));
    boost::lock_guard<boost::mutex> guard(journal.lock);
    ASSERT_EQ(2u, journal.recorded.size());
    EXPECT_EQ(CQUILRequest::Type, journal.recorded[1]->GetType());
}

TEST_F(CAgentBusTest, StopDeliversWhatIsQueuedAndDropsLaterPublications) {
    auto module = NewSubscriber();
    bus.Subscribe(module, CBlockFDELogin::Type);
    for (int i = 0; i < 10; ++i) {
        bus.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    }
    bus.Start();
    bus.Stop();
    EXPECT_EQ(10u, module->Count());
    bus.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    EXPECT_EQ(10u, journal.recorded.size());
    EXPECT_EQ(10u, module->Count());
    bus.DropSubscribers();
    EXPECT_EQ(1, module.use_count()) << "the bus still holds the subscriber";
}

TEST_F(CAgentBusTest, MessagesThatQueuedUpAreRecordedInOneBatchThenDelivered) {
    for (const bool failing : {false, true}) {
        std::vector<size_t> batches;  // messages recorded within each run of the batch function
        std::vector<int64_t> stored;  // what was reported committed
        CAgentBus batching(
            [this](const CAgentBus::MessagePtr& m, const CAgentBus::ContextPtr&) {
                boost::lock_guard<boost::mutex> guard(journal.lock);
                journal.recorded.push_back(m);
                return static_cast<int64_t>(journal.recorded.size());
            },
            logger,
            [&](const std::function<void()>& recordAll) {
                const size_t before = journal.recorded.size();
                recordAll();
                batches.push_back(journal.recorded.size() - before);
                if (failing) {
                    throw std::runtime_error("disk full");  // a commit that fails
                }
            },
            [&](const CAgentBus::MessagePtr&, int64_t sequence) { stored.push_back(sequence); });
        auto module = NewSubscriber();
        batching.Subscribe(module, CBlockFDELogin::Type);
        for (int i = 0; i < 9; ++i) {
            batching.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
        }
        int64_t hooked = 0;
        CAgentBus::Hooks hooks;
        hooks.recorded = [&](int64_t sequence) { hooked = sequence; };
        const CAgentBus::Receipt receipt = batching.PublishRecorded(boost::make_shared<CBlockFDELogin>(),
                                                                    boost::shared_ptr<CUserContext>(), hooks);
        batching.Start();
        ASSERT_TRUE(batching.WaitIdle(kDeadline));
        EXPECT_EQ(std::vector<size_t>{10}, batches);
        const int64_t last = static_cast<int64_t>(journal.recorded.size());
        EXPECT_EQ(last, hooked) << "the hook runs inside the unit of work";
        if (failing) {
            EXPECT_THROW(receipt.get(), std::runtime_error);
            EXPECT_TRUE(stored.empty()) << "nothing is reported stored when the commit failed";
            EXPECT_EQ(std::vector<bool>(9, true), module->recordedFirst)
                << "the waiting publisher's is not delivered";
        } else {
            EXPECT_EQ(last, receipt.get());
            EXPECT_EQ(10u, stored.size());
            EXPECT_EQ(std::vector<bool>(10, true), module->recordedFirst) << "recorded, then delivered";
        }
        boost::lock_guard<boost::mutex> guard(logger.lock);
        EXPECT_EQ(failing ? 1u : 0u, logger.lines.size());
    }
}

// Lines that arrive together: their messages are recorded in one unit of work, their hand-over marks
// in a second one before the first of them is delivered, and bookkeeping deferred meanwhile rides
// along with the recording. Once the bus has stopped, deferred work runs on the caller's thread.
TEST_F(CAgentBusTest, MessagesPublishedTogetherAreRecordedThenHandedOverInOneUnitEach) {
    boost::mutex lock;
    std::string events;  // [ ] a unit of work, f deferred, r recorded, h handed over, d delivered
    const auto note = [&](char event) {
        boost::lock_guard<boost::mutex> guard(lock);
        events += event;
    };
    CAgentBus batching(
        [&](const CAgentBus::MessagePtr&, const CAgentBus::ContextPtr&) {
            note('r');
            boost::lock_guard<boost::mutex> guard(lock);
            return static_cast<int64_t>(std::count(events.begin(), events.end(), 'r'));
        },
        logger,
        [&](const std::function<void()>& work) {
            note('[');
            work();
            note(']');
        });
    auto module = NewSubscriber();
    module->onMessage = [&](const boost::shared_ptr<IMessage>&) { note('d'); };
    batching.Subscribe(module, CBlockFDELogin::Type);
    batching.Defer([&] { note('f'); });
    std::vector<CAgentBus::Publication> together(3);
    for (CAgentBus::Publication& publication : together) {
        publication.message = boost::make_shared<CBlockFDELogin>();
        publication.hooks.delivering = [&] { note('h'); };
    }
    const std::vector<CAgentBus::Receipt> receipts = batching.PublishAllRecorded(together);
    batching.Start();
    ASSERT_TRUE(batching.WaitIdle(kDeadline));
    ASSERT_EQ(3u, receipts.size());
    for (int64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(i + 1, receipts[i].get()) << "receipts come in the order of publication";
    }
    batching.Defer([&] { note('f'); });  // alone: no unit of work of its own
    ASSERT_TRUE(batching.WaitIdle(kDeadline));
    batching.Stop();
    const boost::thread::id caller = boost::this_thread::get_id();
    boost::thread::id ranOn;
    batching.Defer([&] { ranOn = boost::this_thread::get_id(); });
    EXPECT_EQ(caller, ranOn);
    boost::lock_guard<boost::mutex> guard(lock);
    EXPECT_EQ("[frrr][hhh]dddf", events);
}

// Bookkeeping is deferred from every thread at any moment: while the bus waits for company for
// earlier bookkeeping, while it records and delivers (a subscriber finishing a task), and when it is
// idle. None of it may be left waiting for a wake-up that does not come.
TEST_F(CAgentBusTest, BookkeepingDeferredAtAnyMomentRuns) {
    boost::mutex lock;
    int ran = 0;
    const auto count = [&] {
        boost::lock_guard<boost::mutex> guard(lock);
        ++ran;
    };
    CAgentBus bus([](const CAgentBus::MessagePtr&, const CAgentBus::ContextPtr&) { return int64_t(1); },
                  logger, [](const std::function<void()>& work) { work(); });
    auto module = NewSubscriber();
    module->onMessage = [&](const boost::shared_ptr<IMessage>&) {
        bus.Defer(count);  // on the bus thread, while it delivers
        bus.Defer(count);
    };
    bus.Subscribe(module, CBlockFDELogin::Type);
    bus.Start();
    constexpr int kRounds = 20;
    for (int i = 0; i < kRounds; ++i) {
        bus.Defer(count);
        bus.Defer(count);  // while the first waits for company
        bus.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
        ASSERT_TRUE(bus.WaitIdle(kDeadline)) << "round " << i;
        bus.Defer(count);  // idle
        ASSERT_TRUE(bus.WaitIdle(kDeadline)) << "round " << i;
    }
    boost::lock_guard<boost::mutex> guard(lock);
    EXPECT_EQ(5 * kRounds, ran);
}

// A notice is the agent's bookkeeping, not data: it is noted on the publisher's thread before Publish
// returns, whether the bus is idle, busy on its own thread or stopped, and never recorded or
// delivered.
TEST_F(CAgentBusTest, ANoticeIsNotedBeforeItsPublisherGoesOn) {
    boost::mutex lock;
    std::string events;  // n noted, r recorded
    const auto note = [&](char event) {
        boost::lock_guard<boost::mutex> guard(lock);
        events += event;
    };
    const auto seen = [&] {
        boost::lock_guard<boost::mutex> guard(lock);
        return events;
    };
    CAgentBus noting(
        [&](const CAgentBus::MessagePtr&, const CAgentBus::ContextPtr&) {
            note('r');
            return int64_t(1);
        },
        logger, [](const std::function<void()>& work) { work(); });
    boost::thread::id notedOn;
    noting.TakeNotices(CTaskHandOver::Type, [&](const CAgentBus::MessagePtr& notice) {
        notedOn = boost::this_thread::get_id();
        EXPECT_EQ(CTaskHandOver::Type, notice->GetType());
        note('n');
    });
    auto module = NewSubscriber();
    noting.Subscribe(module, CTaskHandOver::Type);
    const auto handOver = [] {
        return boost::make_shared<CTaskHandOver>(boost::make_shared<CBlockFDELogin>());
    };
    noting.Start();
    noting.Defer([] {});  // bookkeeping that waits for company must not hold the notice up
    noting.Publish(handOver(), boost::shared_ptr<CUserContext>());
    EXPECT_EQ("n", seen()) << "noted before Publish returned";
    EXPECT_EQ(boost::this_thread::get_id(), notedOn) << "on the publisher's thread";

    auto announcing = NewSubscriber();
    announcing->onMessage = [&](const boost::shared_ptr<IMessage>&) {
        noting.Publish(handOver(), boost::shared_ptr<CUserContext>());
    };
    noting.Subscribe(announcing, CBlockFDELogin::Type);
    noting.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    ASSERT_TRUE(noting.WaitIdle(kDeadline)) << "a notice on the bus thread waits for nothing";
    noting.Stop();
    noting.Publish(handOver(), boost::shared_ptr<CUserContext>());
    EXPECT_EQ(boost::this_thread::get_id(), notedOn) << "once stopped, noted on the caller's thread";
    EXPECT_EQ("nrnn", seen());
    EXPECT_EQ(0u, module->Count()) << "a notice is never delivered";
}

TEST_F(CAgentBusTest, AFailingRecorderOrSubscriberDoesNotStopTheBus) {
    CAgentBus failing([](const CAgentBus::MessagePtr&,
                         const CAgentBus::ContextPtr&) -> int64_t { throw std::runtime_error("disk full"); },
                      logger);
    auto refusing = NewSubscriber();
    auto module = NewSubscriber();
    refusing->onMessage = [](const boost::shared_ptr<IMessage>&) { throw std::runtime_error("stopped"); };
    failing.Subscribe(refusing, CBlockFDELogin::Type);
    failing.Subscribe(module, CBlockFDELogin::Type);
    failing.Start();
    failing.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    failing.Publish(boost::make_shared<CBlockFDELogin>(), boost::shared_ptr<CUserContext>());
    ASSERT_TRUE(failing.WaitIdle(kDeadline));
    EXPECT_EQ(2u, module->Count());
    boost::lock_guard<boost::mutex> guard(logger.lock);
    EXPECT_EQ(4u, logger.lines.size());
}

}  // namespace
