#include "tools/agent/host/CAgentBus.h"

#include <algorithm>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {
const char* const kSource = "CAgentBus";
// Bounds the messages recorded in one batch, so that delivery never waits long behind recording.
constexpr std::size_t kMaxBatch = 256;
// How long deferred work waits for messages to record with it.
const boost::chrono::milliseconds kDeferredWait(10);
}  // namespace

CAgentBus::CAgentBus(Recorder recorder, Common::Kernel::ILoggerResource& logger, Batch batch, Stored stored)
    : m_recorder(std::move(recorder)),
      m_logger(logger),
      m_batch(std::move(batch)),
      m_stored(std::move(stored)) {}

CAgentBus::~CAgentBus() {
    Stop();
}

void CAgentBus::Start() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    if (!m_running && !m_stopping) {
        m_running = true;
        m_thread = boost::thread(&CAgentBus::Run, this);
    }
}

void CAgentBus::Stop() {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_stopping = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable() && m_thread.get_id() != boost::this_thread::get_id()) {
        m_thread.join();
    }
}

void CAgentBus::DropSubscribers() {
    std::map<Common::Kernel::MessageType, std::vector<SubscriberPtr>> dropped;
    boost::lock_guard<boost::mutex> guard(m_lock);
    dropped.swap(m_subscribers);
}

void CAgentBus::Publish(const MessagePtr& message, const ContextPtr& userContext) {
    const auto notice = message ? m_notices.find(message->GetType()) : m_notices.end();
    if (notice != m_notices.end()) {
        notice->second(message);
        return;
    }
    Envelope envelope;
    envelope.message = message;
    envelope.userContext = userContext;
    Enqueue(std::move(envelope));
}

void CAgentBus::TakeNotices(Common::Kernel::MessageType type, Notice notice) {
    m_notices[type] = std::move(notice);
}

CAgentBus::Receipt CAgentBus::PublishRecorded(const MessagePtr& message, const ContextPtr& userContext,
                                              Hooks hooks) {
    Envelope envelope;
    envelope.message = message;
    envelope.userContext = userContext;
    envelope.hooks = std::move(hooks);
    envelope.receipt = std::make_shared<std::promise<int64_t>>();
    Receipt receipt = envelope.receipt->get_future().share();
    Enqueue(std::move(envelope));
    return receipt;
}

std::vector<CAgentBus::Receipt> CAgentBus::PublishAllRecorded(std::vector<Publication> publications) {
    std::vector<Envelope> envelopes(publications.size());
    std::vector<Receipt> receipts;
    receipts.reserve(publications.size());
    for (std::size_t i = 0; i < publications.size(); ++i) {
        Envelope& envelope = envelopes[i];
        envelope.message = std::move(publications[i].message);
        envelope.userContext = std::move(publications[i].userContext);
        envelope.hooks = std::move(publications[i].hooks);
        envelope.receipt = std::make_shared<std::promise<int64_t>>();
        receipts.push_back(envelope.receipt->get_future().share());
    }
    Enqueue(std::move(envelopes));
    return receipts;
}

void CAgentBus::Redeliver(const MessagePtr& message, const ContextPtr& userContext,
                          std::function<void()> delivering) {
    Envelope envelope;
    envelope.message = message;
    envelope.userContext = userContext;
    envelope.record = false;
    envelope.hooks.delivering = std::move(delivering);
    Enqueue(std::move(envelope));
}

void CAgentBus::Enqueue(Envelope envelope) {
    std::vector<Envelope> one;
    one.push_back(std::move(envelope));
    Enqueue(std::move(one));
}

void CAgentBus::Enqueue(std::vector<Envelope> envelopes) {
    std::vector<Envelope> refused;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        const bool stopped = m_stopping && !m_running;
        for (Envelope& envelope : envelopes) {
            if (envelope.message && !stopped) {
                m_queue.push_back(std::move(envelope));
            } else {
                refused.push_back(std::move(envelope));
            }
        }
        m_changed.notify_all();
    }
    for (Envelope& envelope : refused) {
        const std::string text =
            envelope.message ? "Dropped " + envelope.message->Describe() + " published after the bus stopped"
                             : std::string("Ignored the publication of an empty message");
        if (envelope.receipt) {
            envelope.receipt->set_exception(std::make_exception_ptr(std::runtime_error(text)));
        }
        Warn(text);
    }
}

void CAgentBus::Subscribe(const SubscriberPtr& subscriber, Common::Kernel::MessageType type) {
    if (!subscriber) {
        Warn("Ignored an empty subscriber for type " + std::to_string(type));
        return;
    }
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<SubscriberPtr>& list = m_subscribers[type];
    if (std::find(list.begin(), list.end(), subscriber) == list.end()) {
        list.push_back(subscriber);
    }
}

void CAgentBus::Defer(std::function<void()> work) {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (!(m_stopping && !m_running)) {
            // The bus thread looks at the bookkeeping only when it was empty and the thread idle:
            // anything added while it waits out kDeferredWait or records would wake it for nothing,
            // once per finished task.
            const bool wake = m_deferred.empty() && !m_busy && !m_waitingForCompany;
            m_deferred.push_back(Deferred{std::move(work)});
            if (wake) {
                m_changed.notify_all();
            }
            return;
        }
    }
    work();
}

bool CAgentBus::WaitIdle(boost::chrono::milliseconds timeout) {
    boost::unique_lock<boost::mutex> guard(m_lock);
    ++m_idleWaiters;
    const bool idle = m_changed.wait_for(guard, timeout,
                                         [this] { return m_queue.empty() && m_deferred.empty() && !m_busy; });
    --m_idleWaiters;
    return idle;
}

void CAgentBus::Run() {
    boost::unique_lock<boost::mutex> guard(m_lock);
    while (true) {
        m_changed.wait(guard, [this] { return !m_queue.empty() || !m_deferred.empty() || m_stopping; });
        if (m_queue.empty() && !m_stopping) {
            // Bookkeeping alone waits a moment for messages to share their unit of work: a commit of
            // its own for each finished task cost more than the finishing.
            m_waitingForCompany = true;
            m_changed.wait_for(guard, kDeferredWait, [this] { return !m_queue.empty() || m_stopping; });
            m_waitingForCompany = false;
        }
        if (m_queue.empty() && m_deferred.empty()) {
            break;  // stopping, with nothing left
        }
        const std::size_t count = std::min(m_queue.size(), kMaxBatch);
        std::vector<Envelope> envelopes(std::make_move_iterator(m_queue.begin()),
                                        std::make_move_iterator(m_queue.begin() + count));
        m_queue.erase(m_queue.begin(), m_queue.begin() + count);
        std::vector<Deferred> deferred;
        deferred.swap(m_deferred);
        m_busy = true;
        guard.unlock();
        RecordAll(envelopes, deferred);
        HandOver(envelopes);
        for (const Envelope& envelope : envelopes) {
            if (Deliverable(envelope)) {
                Deliver(envelope);
            }
        }
        envelopes.clear();  // the messages may belong to a module that is unloaded later
        deferred.clear();   // outside the lock: work may hold a task message whose release defers work
        guard.lock();
        m_busy = false;
        m_changed.notify_all();
    }
    m_running = false;
}

void CAgentBus::RecordAll(std::vector<Envelope>& envelopes, std::vector<Deferred>& deferred) {
    const auto recordAll = [&] {
        for (const Deferred& work : deferred) {
            try {
                work.work();
            } catch (const std::exception& e) {
                Warn(std::string("Deferred work failed: ") + e.what());
            }
        }
        for (Envelope& envelope : envelopes) {
            if (envelope.record) {
                Record(envelope);
            }
        }
    };
    std::string failure;
    if (!m_batch || envelopes.size() + deferred.size() == 1) {
        recordAll();
    } else {
        try {
            m_batch(recordAll);
        } catch (const std::exception& e) {
            failure = e.what();
            Warn("Could not record " + std::to_string(envelopes.size()) + " messages: " + failure);
        }
    }
    Settle(envelopes, failure);
}

void CAgentBus::Record(Envelope& envelope) {
    try {
        envelope.sequence = m_recorder(envelope.message, envelope.userContext);
        if (envelope.hooks.recorded) {
            envelope.hooks.recorded(envelope.sequence);
        }
    } catch (const std::exception& e) {
        envelope.failed = true;
        if (envelope.receipt) {
            envelope.receipt->set_exception(std::current_exception());
        }
        Warn(std::string("Could not record ") + envelope.message->Describe() + ": " + e.what());
    }
}

// Once the unit of work has ended: each record is either committed or, with the batch, lost.
void CAgentBus::Settle(std::vector<Envelope>& envelopes, const std::string& batchFailure) {
    for (Envelope& envelope : envelopes) {
        if (!envelope.record || envelope.failed) {
            continue;
        }
        if (!batchFailure.empty()) {
            envelope.failed = true;
            if (envelope.receipt) {
                envelope.receipt->set_exception(std::make_exception_ptr(std::runtime_error(batchFailure)));
            }
            continue;
        }
        if (m_stored) {
            m_stored(envelope.message, envelope.sequence);
        }
        if (envelope.receipt) {
            envelope.receipt->set_value(envelope.sequence);
        }
    }
}

// What a waiting publisher was told could not be stored never reaches a subscriber.
bool CAgentBus::Deliverable(const Envelope& envelope) {
    return !(envelope.failed && envelope.receipt);
}

void CAgentBus::HandOver(std::vector<Envelope>& envelopes) {
    std::size_t hooks = 0;
    for (const Envelope& envelope : envelopes) {
        hooks += Deliverable(envelope) && envelope.hooks.delivering ? 1 : 0;
    }
    const auto handAll = [&] {
        for (Envelope& envelope : envelopes) {
            if (!Deliverable(envelope) || !envelope.hooks.delivering) {
                continue;
            }
            try {
                envelope.hooks.delivering();
            } catch (const std::exception& e) {
                Warn("Could not hand over " + envelope.message->Describe() + ": " + e.what());
            }
        }
    };
    if (!m_batch || hooks < 2) {
        handAll();
        return;
    }
    try {
        m_batch(handAll);
    } catch (const std::exception& e) {
        Warn("Could not record the hand-over of " + std::to_string(hooks) + " messages: " + e.what());
    }
}

void CAgentBus::Deliver(const Envelope& envelope) {
    for (const SubscriberPtr& subscriber : SubscribersOf(envelope.message->GetType())) {
        try {
            subscriber->OnMessage(envelope.message, envelope.userContext);
        } catch (const std::exception& e) {
            Warn("A subscriber refused " + envelope.message->Describe() + ": " + e.what());
        }
    }
}

std::vector<CAgentBus::SubscriberPtr> CAgentBus::SubscribersOf(Common::Kernel::MessageType type) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    auto found = m_subscribers.find(type);
    return found == m_subscribers.end() ? std::vector<SubscriberPtr>() : found->second;
}

void CAgentBus::Warn(const std::string& text) {
    m_logger.Write(text, 3, kSource);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
