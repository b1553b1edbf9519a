#pragma once

#include <boost/scoped_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <boost/thread/tss.hpp>
#include <cstdint>
#include <list>
#include <map>

#include "core/CGenericModule.h"
#include "core/CMessageTask.h"
#include "core/CSubscriber.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "host/CTask.h"
#include "logs/CTaskResultEvent.h"
#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The connector core: one worker thread connects to the product, takes bus messages from the
// subscriber one by one, runs the tasks entered under each message's type, reconnects and retries
// failed tasks, and reports what could not be done. The product-specific steps are the abstract
// operations a product module fills in.
class CConnectorModule : public Zun::Common::Module::CGenericModule,
                         public Zun::Common::Module::IMessagePublisher,
                         public IInstanceUUIDProvider,
                         public ILogger {
public:
    typedef boost::shared_ptr<CMessageTask> TaskPtr;
    typedef std::list<TaskPtr> TaskList;
    typedef std::multimap<int32_t, TaskPtr> TaskTable;
    typedef boost::shared_ptr<Zun::Common::Kernel::IMessage> MessagePtr;
    typedef boost::shared_ptr<Zun::Common::Kernel::CUserContext> UserContextPtr;

    static constexpr int64_t ReconnectIntervalMs = 10000;
    static constexpr uint64_t ConnectorProductId = CTaskResultEvent::ConnectorProductId;

    ~CConnectorModule() override;

    void Initialize(Zun::Common::Kernel::IResourceProvider& resources) override;
    void Start() override;
    void Stop() override;
    bool Terminate(bool force) override;
    virtual uint64_t GetProductId() const = 0;
    virtual void PublishDeactivatedStatus();

    void Publish(const MessagePtr& message) override;
    std::string GetInstanceUUID() override;
    CLogEntry Log(int severity) override;

    bool IsActivated() const { return m_activated; }
    int64_t GetReconnectIntervalMs() const { return m_reconnectIntervalMs; }
    const boost::shared_ptr<Zun::Common::Module::CSubscriber>& GetSubscriber() const { return m_subscriber; }
    const TaskTable& GetTaskTable() const { return m_tasks; }

protected:
    CConnectorModule();
    // Test seam: a shorter reconnect interval. Production code uses the default constructor.
    explicit CConnectorModule(int64_t reconnectIntervalMs);

    virtual bool IsProductInstalled() { return true; }
    virtual void CreateMessageTasks(TaskList& tasks) = 0;
    virtual void Connect() = 0;
    virtual void StopConnection() = 0;
    virtual void Disconnect() = 0;
    virtual void Reconnect();

    // The product identifier of the module's product status logs (10405): symbol 4429.
    boost::shared_ptr<Zun::Common::Logs::ISymbolContainer> MakeProductIdentifier() const;

    // Views of the module for its tasks; they do not own the module.
    boost::shared_ptr<ILogger> LoggerView();
    boost::shared_ptr<Zun::Common::Module::IMessagePublisher> PublisherView();
    boost::shared_ptr<IInstanceUUIDProvider> InstanceUUIDView();

private:
    void ProcessTasks();
    bool ConnectPhase();
    void ProcessingLoop();
    void AnnounceHandOver(const MessagePtr& message);
    void RunTasks(const MessagePtr& message, boost::unique_lock<boost::mutex>& lock);
    void WaitAndReconnect(boost::unique_lock<boost::mutex>& lock);
    bool ExecuteTask(const TaskPtr& task, const MessagePtr& message, bool& restart);
    void CancelQueued();
    void SleepReconnectInterval();

    bool TryConnect();
    void DisconnectGuarded();
    bool ReconnectGuarded();

    void ReportTaskResult(const MessagePtr& message, int64_t code, const std::string& text, int64_t state,
                          int32_t severity);
    static const Zun::Common::Message::CTask* TaskIdentifiersOf(const MessagePtr& message);
    void SetCurrentUserContext(const UserContextPtr& context);
    void JoinWorker(bool interrupt);

    const int64_t m_reconnectIntervalMs;
    bool m_activated = false;
    boost::shared_ptr<Zun::Common::Module::CSubscriber> m_subscriber;
    TaskTable m_tasks;
    bool m_connected = false;
    boost::mutex m_lock;
    boost::scoped_ptr<boost::thread> m_worker;
    boost::mutex m_workerHandleLock;
    boost::thread_specific_ptr<UserContextPtr> m_userContext;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
