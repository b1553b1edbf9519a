#include "tests/support/CTestHost.h"

#include <algorithm>
#include <boost/chrono.hpp>

namespace Zun {
namespace Testing {

using namespace Common::Kernel;

class CTestHost::Bus : public IBusResource {
public:
    explicit Bus(CTestHost& host) : m_host(host) {}
    void Publish(const boost::shared_ptr<IMessage>& message,
                 const boost::shared_ptr<CUserContext>& userContext) override {
        boost::lock_guard<boost::mutex> guard(m_host.m_lock);
        m_host.m_published.push_back(Published{message, userContext});
        if (m_host.m_loopback) {
            m_host.m_deliveries.push_back(message);
        }
        m_host.m_changed.notify_all();
    }
    void Subscribe(const boost::shared_ptr<ISubscriber>& subscriber, MessageType type) override {
        boost::lock_guard<boost::mutex> guard(m_host.m_lock);
        m_host.m_subscriptions.insert(std::make_pair(type, subscriber));
    }

private:
    CTestHost& m_host;
};

class CTestHost::Logger : public ILoggerResource {
public:
    explicit Logger(CTestHost& host) : m_host(host) {}
    void Write(const std::string& text, int level, const std::string& source) override {
        boost::lock_guard<boost::mutex> guard(m_host.m_lock);
        m_host.m_lines.push_back(Line{text, level, source});
        m_host.m_changed.notify_all();
    }

private:
    CTestHost& m_host;
};

namespace {

class InstallConfiguration : public IInstallConfigurationResource {
public:
    std::string GetInstanceUUID() const override { return CTestHost::InstanceUUID(); }
};

class IdGenerator : public IIdGeneratorResource {
public:
    std::string GenerateId() override { return std::to_string(++m_next); }

private:
    int m_next = 0;
};

class Configuration : public IConfigurationResource {
public:
    std::string GetValue(const std::string&, const std::string& fallback) const override { return fallback; }
};

}  // namespace

CTestHost::CTestHost() {
    m_resources[1] = boost::make_shared<Bus>(*this);
    m_resources[2] = boost::make_shared<InstallConfiguration>();
    m_resources[3] = boost::make_shared<Logger>(*this);
    m_resources[4] = boost::make_shared<IdGenerator>();
    m_resources[12] = boost::make_shared<Configuration>();
}

CTestHost::~CTestHost() {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_stopping = true;
        m_changed.notify_all();
    }
    if (m_deliverer.joinable()) {
        m_deliverer.join();
    }
}

void CTestHost::EnableLoopback() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_loopback = true;
    m_deliverer = boost::thread([this] {
        boost::unique_lock<boost::mutex> guard(m_lock);
        while (!m_stopping) {
            if (m_deliveries.empty()) {
                m_changed.wait(guard);
                continue;
            }
            const auto message = m_deliveries.front();
            m_deliveries.pop_front();
            guard.unlock();
            Deliver(message);
            guard.lock();
        }
    });
}

boost::shared_ptr<IResource> CTestHost::GetResource(int number) {
    auto it = m_resources.find(number);
    return it == m_resources.end() ? boost::shared_ptr<IResource>() : it->second;
}

bool CTestHost::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = boost::chrono::steady_clock::now() + boost::chrono::milliseconds(timeout.count());
    boost::unique_lock<boost::mutex> guard(m_lock);
    while (true) {
        guard.unlock();
        const bool ok = done();
        guard.lock();
        if (ok) {
            return true;
        }
        // Short waits also cover conditions that change outside the host (a task's own counters).
        if (m_changed.wait_until(guard, std::min(deadline, boost::chrono::steady_clock::now() +
                                                               boost::chrono::milliseconds(5))) ==
                boost::cv_status::timeout &&
            boost::chrono::steady_clock::now() >= deadline) {
            guard.unlock();
            return done();
        }
    }
}

std::vector<MessageType> CTestHost::PublishedTypes() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<MessageType> types;
    for (const Published& p : m_published) {
        types.push_back(p.message->GetType());
    }
    return types;
}

std::vector<CTestHost::Published> CTestHost::PublishedOfType(MessageType type) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    std::vector<Published> found;
    for (const Published& p : m_published) {
        if (p.message->GetType() == type) {
            found.push_back(p);
        }
    }
    return found;
}

size_t CTestHost::CountPublished(MessageType type) {
    return PublishedOfType(type).size();
}

std::vector<CTestHost::Line> CTestHost::Lines() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_lines;
}

size_t CTestHost::CountLines(const std::string& text, int level) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    size_t count = 0;
    for (const Line& line : m_lines) {
        count += line.text == text && line.level == level;
    }
    return count;
}

std::multimap<MessageType, boost::shared_ptr<ISubscriber>> CTestHost::Subscriptions() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_subscriptions;
}

void CTestHost::Deliver(const boost::shared_ptr<IMessage>& message,
                        const boost::shared_ptr<CUserContext>& userContext) {
    // Once per subscriber, however often it subscribed to the type.
    std::vector<boost::shared_ptr<ISubscriber>> targets;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        auto range = m_subscriptions.equal_range(message->GetType());
        for (auto it = range.first; it != range.second; ++it) {
            if (std::find(targets.begin(), targets.end(), it->second) == targets.end()) {
                targets.push_back(it->second);
            }
        }
    }
    for (const auto& subscriber : targets) {
        subscriber->OnMessage(message, userContext);
    }
}

}  // namespace Testing
}  // namespace Zun
