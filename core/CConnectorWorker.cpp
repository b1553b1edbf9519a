// The worker thread of CConnectorModule: connecting, processing, reconnecting and cancelling.
#include <boost/chrono.hpp>
#include <boost/make_shared.hpp>

#include "bus/CTaskHandOver.h"
#include "core/CConnectorModule.h"
#include "core/CLocalizedException.h"
#include "core/CRestartNeededException.h"
#include "core/CRetryException.h"
#include "logs/CTaskResultEvent.h"

namespace Zun {
namespace Connectors {
namespace Common {

using Zun::Common::Message::CTask;

namespace {

const int64_t kRetryCode = 0x10000000CLL;
const int64_t kCancelCode = CTaskResultEvent::CanceledCode;
const int64_t kStateRetry = 20;
const int64_t kStateFailed = CTaskResultEvent::StateFailed;
const char* kMaxRetries = "Message task was canceled because maximum retry count was reached";
const char* kUnavailable = "Message task was canceled because product is not available";

}  // namespace

void CConnectorModule::ProcessTasks() {
    try {
        Log(2) << "Connecting to product";
        if (!ConnectPhase()) {
            CancelQueued();
            DisconnectGuarded();
            return;
        }
        try {
            Log(2) << "Connected to product, processing tasks";
            ProcessingLoop();
        } catch (const boost::thread_interrupted&) {
            Log(4) << "Task processing was interrupted";
        }
        Log(2) << "Disconnecting from product";
        DisconnectGuarded();
    } catch (const boost::thread_interrupted&) {
        // Interrupted again while disconnecting: the thread ends all the same.
    } catch (...) {
        // A failure that no task may raise; ending the worker beats ending the host process.
        Log(4) << "Task processing stopped on an unexpected failure";
    }
}

// Returns false when interrupted before the connection was made.
bool CConnectorModule::ConnectPhase() {
    try {
        while (!TryConnect()) {
            DisconnectGuarded();
            SleepReconnectInterval();
        }
        boost::lock_guard<boost::mutex> guard(m_lock);
        boost::this_thread::interruption_point();
        m_connected = true;
        return true;
    } catch (const boost::thread_interrupted&) {
        return false;
    }
}

void CConnectorModule::ProcessingLoop() {
    MessagePtr message;
    UserContextPtr context;
    while (m_subscriber->WaitForMessage(message, context)) {
        SetCurrentUserContext(context);
        AnnounceHandOver(message);
        boost::unique_lock<boost::mutex> lock(m_lock);
        RunTasks(message, lock);
        lock.unlock();
        message.reset();
        context.reset();
    }
}

// Before the first request of an agent task leaves: a host that returns only once it has noted that
// knows, after a crash, which tasks of its own may have reached the product and which it can safely
// hand over again. Outside the module lock, so that Stop and Terminate need not wait for the host.
void CConnectorModule::AnnounceHandOver(const MessagePtr& message) {
    if (TaskIdentifiersOf(message) == nullptr ||
        m_tasks.count(static_cast<int32_t>(message->GetType())) == 0) {
        return;
    }
    try {
        auto handOver = boost::make_shared<Zun::Common::Message::CTaskHandOver>(message);
        handOver->SetReadOnly();
        Publish(handOver);
    } catch (const std::exception& e) {
        Log(4) << "Cannot announce " << message->Describe() << " to the host: " << e.what();
    }
}

void CConnectorModule::RunTasks(const MessagePtr& message, boost::unique_lock<boost::mutex>& lock) {
    const auto range = m_tasks.equal_range(static_cast<int32_t>(message->GetType()));
    for (auto it = range.first; it != range.second; ++it) {
        int attempts = 0;
        while (attempts < 2) {
            bool restart = false;
            if (ExecuteTask(it->second, message, restart)) {
                break;
            }
            WaitAndReconnect(lock);
            if (!restart) {
                ++attempts;
            }
        }
        if (attempts == 2) {
            ReportTaskResult(message, kCancelCode, kMaxRetries, kStateFailed, 4);
            Log(4) << kMaxRetries << ", message was: " << message->Describe();
        }
    }
}

// Reconnects with the module lock released, so that Stop and Terminate can get through meanwhile.
void CConnectorModule::WaitAndReconnect(boost::unique_lock<boost::mutex>& lock) {
    m_connected = false;
    lock.unlock();
    do {
        SleepReconnectInterval();
        Log(2) << "Reconnecting to product";
    } while (!ReconnectGuarded());
    lock.lock();
    boost::this_thread::interruption_point();
    m_connected = true;
}

bool CConnectorModule::ExecuteTask(const TaskPtr& task, const MessagePtr& message, bool& restart) {
    restart = false;
    if (static_cast<int32_t>(message->GetType()) != task->GetMessageType()) {
        return true;
    }
    try {
        task->Execute(message);
        return true;
    } catch (const Zun::Common::Module::CLocalizedException& e) {
        ReportTaskResult(message, static_cast<int64_t>(e.GetCode()), e.what(), kStateFailed, 4);
        Log(4) << e.what();
        return true;
    } catch (const CRetryException& e) {
        ReportTaskResult(message, kRetryCode, e.what(), kStateRetry, 1);
        Log(4) << e.what();
        restart = e.IsRestart();
        return false;
    } catch (const CRestartNeededException& e) {
        Log(2) << e.what();
        restart = true;
        return false;
    } catch (const std::exception& e) {
        ReportTaskResult(message, kRetryCode, e.what(), kStateFailed, 4);
        Log(4) << e.what();
        return true;
    }
}

void CConnectorModule::CancelQueued() {
    Log(4) << "Product is not available, canceling tasks";
    MessagePtr message;
    UserContextPtr context;
    while (m_subscriber->TryTakeMessage(message, context)) {
        SetCurrentUserContext(context);
        ReportTaskResult(message, kCancelCode, kUnavailable, kStateFailed, 4);
        Log(4) << kUnavailable << ", message was: " << message->Describe();
    }
}

void CConnectorModule::SleepReconnectInterval() {
    boost::this_thread::sleep_for(boost::chrono::milliseconds(m_reconnectIntervalMs));
}

bool CConnectorModule::TryConnect() {
    try {
        Connect();
        return true;
    } catch (const std::exception& e) {
        Log(4) << e.what();
        return false;
    }
}

void CConnectorModule::DisconnectGuarded() {
    try {
        Disconnect();
    } catch (const std::exception& e) {
        Log(4) << e.what();
    }
}

bool CConnectorModule::ReconnectGuarded() {
    try {
        Reconnect();
        return true;
    } catch (const std::exception& e) {
        Log(4) << e.what();
        return false;
    }
}

const CTask* CConnectorModule::TaskIdentifiersOf(const MessagePtr& message) {
    const CTask* task = dynamic_cast<const CTask*>(message.get());
    return task != nullptr && task->HasTaskIdentifiers() ? task : nullptr;
}

// Only agent tasks that carry their three identifiers get an event; the report itself must never
// stop the worker, so its own failures are only logged.
void CConnectorModule::ReportTaskResult(const MessagePtr& message, int64_t code, const std::string& text,
                                        int64_t state, int32_t severity) {
    const CTask* task = TaskIdentifiersOf(message);
    if (task == nullptr) {
        return;
    }
    try {
        Publish(CTaskResultEvent::Build(CTaskResultEvent::Content{
            static_cast<int64_t>(ConnectorProductId), GetInstanceUUID(), task->GetFirstId(),
            task->GetSecondId(), task->GetThirdId(), code, text, state, severity}));
    } catch (const std::exception& e) {
        Log(4) << "Cannot report the result of " << message->Describe() << ": " << e.what();
    }
}

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
