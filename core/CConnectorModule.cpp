#include "core/CConnectorModule.h"

#include <boost/make_shared.hpp>

#include "logs/CSymbolContainer.h"

#include "logs/CMultiProductStatusLog.h"

namespace Zun {
namespace Connectors {
namespace Common {

using Zun::Common::Kernel::CUserContext;

namespace {

template <typename T>
void NoDelete(T*) {}

}  // namespace

CConnectorModule::CConnectorModule() : m_reconnectIntervalMs(ReconnectIntervalMs) {}

CConnectorModule::CConnectorModule(int64_t reconnectIntervalMs)
    : m_reconnectIntervalMs(reconnectIntervalMs) {}

CConnectorModule::~CConnectorModule() {
    // A host that skipped Terminate must not leave a worker running on a destroyed module.
    JoinWorker(true);
}

void CConnectorModule::Initialize(Zun::Common::Kernel::IResourceProvider& resources) {
    TakeResources(resources);
    m_activated = IsProductInstalled();
    if (!m_activated) {
        Log(2) << "Connector was deactivated. No tasks will be processed and no logs will be produced.";
        return;
    }
    m_subscriber = boost::make_shared<Zun::Common::Module::CSubscriber>(GetName());
    TaskList tasks;
    CreateMessageTasks(tasks);
    for (const TaskPtr& task : tasks) {
        m_tasks.insert(std::make_pair(task->GetMessageType(), task));
        m_bus->Subscribe(m_subscriber, static_cast<Zun::Common::Kernel::MessageType>(task->GetMessageType()));
    }
}

void CConnectorModule::Start() {
    if (!m_activated) {
        PublishDeactivatedStatus();
        return;
    }
    boost::lock_guard<boost::mutex> handle(m_workerHandleLock);
    if (!m_worker) {
        m_connected = false;
        m_worker.reset(new boost::thread(&CConnectorModule::ProcessTasks, this));
    }
}

void CConnectorModule::Stop() {
    if (!m_activated) {
        return;
    }
    StopConnection();
    boost::lock_guard<boost::mutex> guard(m_lock);
    for (const auto& entry : m_tasks) {
        entry.second->Cancel();
    }
}

bool CConnectorModule::Terminate(bool force) {
    if (!m_activated) {
        return true;
    }
    if (force) {
        JoinWorker(true);
        return true;
    }
    // A worker that ended already (a forced or an earlier successful terminate) leaves nothing busy.
    {
        boost::lock_guard<boost::mutex> handle(m_workerHandleLock);
        if (!m_worker) {
            return true;
        }
    }
    bool connected;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        connected = m_connected;
        if (!connected) {
            boost::lock_guard<boost::mutex> handle(m_workerHandleLock);
            if (m_worker) {
                m_worker->interrupt();
            }
        }
    }
    // The subscriber lock is only taken after the module lock was released.
    if (connected && !m_subscriber->StopIfIdle()) {
        return false;
    }
    JoinWorker(false);
    return true;
}

void CConnectorModule::JoinWorker(bool interrupt) {
    boost::scoped_ptr<boost::thread> worker;
    {
        boost::lock_guard<boost::mutex> handle(m_workerHandleLock);
        worker.swap(m_worker);
    }
    if (worker) {
        if (interrupt) {
            worker->interrupt();
        }
        worker->join();
    }
}

boost::shared_ptr<Zun::Common::Logs::ISymbolContainer> CConnectorModule::MakeProductIdentifier() const {
    boost::shared_ptr<Zun::Common::Logs::ISymbolContainer> product(new Zun::Common::Logs::CSymbolContainer());
    product->AddResId(4429, static_cast<int64_t>(GetProductId()));
    return product;
}

void CConnectorModule::PublishDeactivatedStatus() {
    auto log = boost::make_shared<Zun::Common::Message::Logs::CMultiProductStatusLog>(
        10405, MakeProductIdentifier());
    log->SetReadOnly();
    Publish(log);
}

void CConnectorModule::Publish(const MessagePtr& message) {
    if (!m_bus) {
        throw std::runtime_error("Cannot publish " + message->Describe() + ": module is not initialized");
    }
    if (m_userContext.get() == nullptr || !*m_userContext) {
        m_userContext.reset(new UserContextPtr(boost::make_shared<CUserContext>()));
    }
    m_bus->Publish(message, *m_userContext);
}

void CConnectorModule::SetCurrentUserContext(const UserContextPtr& context) {
    m_userContext.reset(new UserContextPtr(context));
}

std::string CConnectorModule::GetInstanceUUID() {
    return m_installConfiguration->GetInstanceUUID();
}

CLogEntry CConnectorModule::Log(int severity) {
    const int level = severity <= 0 ? 2 : (severity > 4 ? 4 : severity);
    boost::shared_ptr<Zun::Common::Kernel::ILoggerResource> logger = m_logger;
    const std::string source = GetName();
    return CLogEntry(level, [logger, source](int lvl, const std::string& text) {
        if (logger) {
            logger->Write(text, lvl, source);
        }
    });
}

void CConnectorModule::Reconnect() {
    Disconnect();
    Connect();
}

boost::shared_ptr<ILogger> CConnectorModule::LoggerView() {
    return boost::shared_ptr<ILogger>(static_cast<ILogger*>(this), &NoDelete<ILogger>);
}

boost::shared_ptr<Zun::Common::Module::IMessagePublisher> CConnectorModule::PublisherView() {
    typedef Zun::Common::Module::IMessagePublisher Publisher;
    return boost::shared_ptr<Publisher>(static_cast<Publisher*>(this), &NoDelete<Publisher>);
}

boost::shared_ptr<IInstanceUUIDProvider> CConnectorModule::InstanceUUIDView() {
    return boost::shared_ptr<IInstanceUUIDProvider>(static_cast<IInstanceUUIDProvider*>(this),
                                                    &NoDelete<IInstanceUUIDProvider>);
}

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
