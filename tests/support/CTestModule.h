#pragma once

#include <atomic>
#include <boost/thread/mutex.hpp>
#include <functional>

#include "core/CConnectorModule.h"

namespace Zun {
namespace Testing {

// A task whose behaviour the test scripts: `run` is called with the number of the run (from 1).
class CFakeTask : public Connectors::Common::CMessageTask {
public:
    typedef std::function<void(int run, const boost::shared_ptr<Common::Kernel::IMessage>&)> Behaviour;

    CFakeTask(int32_t type, Behaviour run = Behaviour()) : CMessageTask(type), m_run(std::move(run)) {}

    void Execute(const boost::shared_ptr<Common::Kernel::IMessage>& message) override {
        const int run = ++m_runs;
        if (m_run) {
            m_run(run, message);
        }
    }
    int Runs() const { return m_runs; }

private:
    Behaviour m_run;
    std::atomic<int> m_runs{0};
};

// The product link as the worker sees it: connects fail while `failConnects` is above zero.
struct CFakeLink {
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};
    std::atomic<int> stops{0};
    std::atomic<int> failConnects{0};
    std::atomic<bool> failForever{false};
};

// A connector module with scripted tasks and product link; the product is installed unless told.
class CTestModule : public Connectors::Common::CConnectorModule {
public:
    CTestModule(CFakeLink& link, TaskList tasks, bool installed = true, int64_t reconnectMs = 1)
        : CConnectorModule(reconnectMs), m_link(link), m_tasks(std::move(tasks)), m_installed(installed) {}
    ~CTestModule() override { Terminate(true); }

    std::string GetName() const override { return "CQUILConnectorModule"; }
    uint64_t GetProductId() const override { return 0x071000000000081CULL; }

protected:
    bool IsProductInstalled() override { return m_installed; }
    void CreateMessageTasks(TaskList& tasks) override { tasks = m_tasks; }
    void Connect() override {
        ++m_link.connects;
        if (m_link.failForever || m_link.failConnects-- > 0) {
            throw std::runtime_error("product unreachable");
        }
    }
    void StopConnection() override { ++m_link.stops; }
    void Disconnect() override { ++m_link.disconnects; }

private:
    CFakeLink& m_link;
    TaskList m_tasks;
    bool m_installed;
};

}  // namespace Testing
}  // namespace Zun
