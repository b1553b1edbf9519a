#include "tools/agent/host/CAgentHost.h"

#include <Poco/Exception.h>
#include <boost/make_shared.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/thread.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <stdexcept>

#include "host/IAgentConfigurationResource.h"
#include "host/IConfigurationResource.h"
#include "host/IIdGeneratorResource.h"
#include "host/IInstallConfigurationResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

using namespace Common::Kernel;

const char* const CAgentHost::kModuleClass = "Zun::Connectors::QUILConnector::CConnectorModule";
const char* const CAgentHost::kSource = "CAgentHost";

namespace {

// Between two refusals of Terminate(false): the module offers no signal for "ready now".
const boost::chrono::milliseconds kTerminatePoll(20);
// How long a forced stop may take before the module's threads are given up on.
const std::chrono::milliseconds kForcedStopWait(1000);
const int kLevelInfo = 2;
const int kLevelWarning = 3;
const int kLevelError = 4;

class CInstallConfiguration : public IInstallConfigurationResource {
public:
    explicit CInstallConfiguration(std::string uuid) : m_uuid(std::move(uuid)) {}
    std::string GetInstanceUUID() const override { return m_uuid; }

private:
    std::string m_uuid;
};

class CIdGenerator : public IIdGeneratorResource {
public:
    std::string GenerateId() override {
        boost::lock_guard<boost::mutex> guard(m_lock);
        return boost::uuids::to_string(m_generator());
    }

private:
    boost::mutex m_lock;
    boost::uuids::random_generator m_generator;
};

// The agent's settings the module asks for: only the account that must serve the product's ports.
// Anything else answers with the caller's fallback or nothing.
class CConfiguration : public IConfigurationResource, public IAgentConfigurationResource {
public:
    explicit CConfiguration(std::string productAccount) : m_productAccount(std::move(productAccount)) {}
    std::string GetValue(const std::string&, const std::string& fallback) const override { return fallback; }
    std::string GetAgentValue(const std::string& name) const override {
        return name == kProductAccountSetting ? m_productAccount : std::string();
    }

private:
    static constexpr const char* kProductAccountSetting = "product-account";
    std::string m_productAccount;
};

// A call on a thread of its own that the caller waits for no longer than it chooses. A thread still
// blocked when the call is dropped is let go; what it shares lives as long as it does.
class CBoundedCall {
public:
    explicit CBoundedCall(std::function<void()> call) : m_outcome(std::make_shared<Outcome>()) {
        auto outcome = m_outcome;
        m_thread = boost::thread([call, outcome] {
            call();
            boost::lock_guard<boost::mutex> guard(outcome->lock);
            outcome->done = true;
            outcome->ended.notify_all();
        });
    }
    ~CBoundedCall() {
        if (m_thread.joinable()) {
            m_thread.detach();
        }
    }

    bool WaitFor(std::chrono::milliseconds limit) {
        boost::unique_lock<boost::mutex> guard(m_outcome->lock);
        if (!m_outcome->ended.wait_for(guard, boost::chrono::milliseconds(limit.count()),
                                       [this] { return m_outcome->done; })) {
            return false;
        }
        guard.unlock();
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return true;
    }

private:
    struct Outcome {
        boost::mutex lock;
        boost::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<Outcome> m_outcome;
    boost::thread m_thread;
};

}  // namespace

CAgentHost::CAgentHost(const boost::shared_ptr<IBusResource>& bus,
                       const boost::shared_ptr<ILoggerResource>& logger, const std::string& instanceUUID,
                       const std::string& productAccount)
    : m_logger(logger) {
    m_resources[1] = bus;
    m_resources[2] = boost::make_shared<CInstallConfiguration>(instanceUUID);
    m_resources[3] = logger;
    m_resources[4] = boost::make_shared<CIdGenerator>();
    m_resources[12] = boost::static_pointer_cast<IConfigurationResource>(
        boost::make_shared<CConfiguration>(productAccount));
}

CAgentHost::~CAgentHost() {
    Unload();
}

boost::shared_ptr<IResource> CAgentHost::GetResource(int number) {
    auto found = m_resources.find(number);
    return found == m_resources.end() ? boost::shared_ptr<IResource>() : found->second;
}

void CAgentHost::Load(const std::string& libraryPath) {
    try {
        m_loader.loadLibrary(libraryPath);
        m_libraryPath = libraryPath;
        if (!m_loader.canCreate(kModuleClass)) {
            throw std::runtime_error(std::string("it has no class ") + kModuleClass);
        }
        m_module.reset(m_loader.create(kModuleClass));
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("Cannot load the module " + libraryPath + ": " + e.displayText());
    } catch (const std::exception& e) {
        throw std::runtime_error("Cannot load the module " + libraryPath + ": " + e.what());
    }
    Log("Loaded " + m_module->GetName() + " from " + libraryPath, kLevelInfo);
}

void CAgentHost::Start() {
    if (!m_module) {
        throw std::runtime_error("No module is loaded");
    }
    try {
        m_module->Initialize(*this);
    } catch (const std::exception& e) {
        throw std::runtime_error("The module failed to initialize: " + std::string(e.what()));
    }
    m_initialized = true;
    try {
        m_module->Start();
    } catch (const std::exception& e) {
        throw std::runtime_error("The module failed to start: " + std::string(e.what()));
    }
    Log("Started " + m_module->GetName(), kLevelInfo);
}

bool CAgentHost::Shutdown(std::chrono::milliseconds grace) {
    if (!m_module || !m_initialized) {
        return true;
    }
    m_initialized = false;
    // Stop and the polite Terminate wait for the module lock, which the worker holds for as long
    // as a request to a hung product lasts: they run aside, so that the grace period holds.
    CBoundedCall polite([this] { Guarded([this] { StopPolitely(); }); });
    if (polite.WaitFor(grace)) {
        Log("Stopped " + m_module->GetName(), kLevelInfo);
        return true;
    }
    Log("The module did not stop within " + std::to_string(grace.count()) + " ms; forcing it", kLevelWarning);
    CBoundedCall forced([this] { Guarded([this] { m_module->Terminate(true); }); });
    if (!forced.WaitFor(kForcedStopWait) || !polite.WaitFor(kForcedStopWait)) {
        m_abandoned = true;
        Log("The module's threads are still blocked after the forced stop; leaving them behind", kLevelError);
    }
    return false;
}

void CAgentHost::StopPolitely() {
    m_module->Stop();
    while (!m_module->Terminate(false)) {
        boost::this_thread::sleep_for(kTerminatePoll);
    }
}

void CAgentHost::Guarded(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        Log(std::string("The module failed to stop: ") + e.what(), kLevelError);
    }
}

void CAgentHost::Unload() {
    if (m_abandoned) {
        return;  // its threads still run the library's code
    }
    m_initialized = false;
    m_module.reset();
    if (!m_libraryPath.empty()) {
        try {
            m_loader.unloadLibrary(m_libraryPath);
        } catch (const Poco::Exception& e) {
            Log("Cannot unload " + m_libraryPath + ": " + e.displayText(), kLevelWarning);
        }
        m_libraryPath.clear();
    }
}

void CAgentHost::Log(const std::string& text, int level) {
    m_logger->Write(text, level, kSource);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
