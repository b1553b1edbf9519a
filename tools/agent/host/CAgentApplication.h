#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "host/CUserContext.h"
#include "host/IMessage.h"
#include "tools/agent/CAgentOptions.h"
#include "tools/agent/control/CTaskParser.h"
#include "tools/agent/host/CAgentBus.h"
#include "tools/agent/host/CAgentLogger.h"

namespace Zun {
namespace Tools {
namespace Agent {

class CAgentHost;
class CAgentStatus;
class CAgentStore;
class CConsoleInput;
class CControlServer;
class IServerLink;
class ILinkStore;

// `quil-agent run`: wires store, logger, bus, module host and control socket together, takes tasks
// from standard input and the socket until SIGINT or SIGTERM, then stops the module and shuts
// everything down in the order that lets the module's library go last.
class CAgentApplication {
public:
    // The default of --grace-ms.
    static const std::chrono::milliseconds kGrace;

    explicit CAgentApplication(const CAgentOptions& options);
    ~CAgentApplication();

    // How a run ends besides a stop request: with its standard input (see
    // CConsoleInput::InputEndStopsRun), or only on request (a service has no input).
    enum class InputEnd { Platform, Ignored };

    // Returns the process exit code: 0 after a clean stop, 1 when the agent could not start, 2
    // when the module had to be forced to stop. `running` is called once the agent serves.
    int Run(InputEnd inputEnd = InputEnd::Platform,
            const std::function<void()>& running = std::function<void()>());
    // Lines that arrived together, each a task or {"op":"status"}: their tasks are stored in one
    // transaction, and each line is answered (in its order) once that is committed. Returns the
    // JSON answers, one per line. Never throws.
    std::vector<std::string> HandleLines(const std::vector<std::string>& lines, const std::string& source);
    // Publishes one task line and returns the JSON answer for its sender. Never throws. `taken`, when
    // given, runs in the unit of work that stores the task (the server link keeps its task id so).
    std::string HandleTask(const std::string& line, const std::string& source,
                           const std::function<void()>& taken = std::function<void()>());

private:
    void Open();
    void Serve(CConsoleInput& console, InputEnd inputEnd);
    void TakeInputLines();
    // Answers an overlong stdin line with its refusal and skips what is left of it.
    void RefuseOverlongInput();
    void AnswerInput(const std::vector<std::string>& lines);
    int64_t Record(const boost::shared_ptr<Common::Kernel::IMessage>& message,
                   const boost::shared_ptr<Common::Kernel::CUserContext>& userContext);
    void Stored(const Common::Kernel::IMessage& message, int64_t sequence);
    CAgentBus::Publication Prepare(const CTaskParser::Task& task, const std::string& source,
                                   const std::function<void()>& taken = std::function<void()>());
    std::string Answer(const CTaskParser::Task& task, const std::string& source,
                       const std::shared_future<int64_t>& receipt,
                       std::chrono::steady_clock::time_point deadline,
                       std::vector<std::string>* published = nullptr);
    static std::string Acknowledgement(const CTaskParser::Task& task, int64_t sequence);
    void PrepareLink();
    void StartLink();
    // A task from its answer to its end: its row once stored, and whether it was counted finished,
    // which happens once, whichever comes first of its release and (for a task the module keeps) its
    // handing over.
    struct TrackedTask {
        std::atomic<int64_t> sequence{-1};
        std::atomic<bool> finished{false};
    };
    typedef std::shared_ptr<TrackedTask> TrackedTaskPtr;
    // The deleter of a tracked task's message, which the module shares: through it a message the
    // module names leads back to its task.
    struct Release {
        CAgentApplication* application;
        CTaskParser::MessagePtr message;
        TrackedTaskPtr tracked;
        void operator()(Common::Kernel::IMessage*) const;
    };
    CTaskParser::MessagePtr Tracked(const CTaskParser::MessagePtr& message, const TrackedTaskPtr& tracked);
    void Released(const TrackedTaskPtr& tracked);
    void Finish(const TrackedTaskPtr& tracked, bool deferred);
    std::function<void()> HandingOver(const TrackedTaskPtr& tracked, bool keptByModule);
    void NoteSending(const Common::Kernel::IMessage& notice);
    void SettleEarlierTasks();
    void SettleHanded(const std::string& name, const CTaskParser::Task& task, int64_t sequence);
    void ReportCanceled(const CTaskParser::Task& task, int64_t sequence);
    void FailIfNoProduct(const CTaskParser::Task& task);
    void ReportFailed(const CTaskParser::Task& task, const std::string& text, const std::string& sender,
                      const CAgentBus::Hooks& hooks);
    void Guarded(const std::string& what, const std::function<void()>& work);
    int Close();
    void LeaveAbandonedModule();
    void ReopenLog(const std::string& detail);
    void Log(const std::string& text, CAgentLogger::Level level);
    static bool IsStatusRequest(const std::string& line);
    void NoteProductLost(const std::string& reason);

    CAgentOptions m_options;
    std::unique_ptr<CAgentStore> m_store;
    boost::shared_ptr<CAgentLogger> m_logger;
    boost::shared_ptr<CAgentStatus> m_status;  // the module's logger
    boost::shared_ptr<CAgentBus> m_bus;
    std::unique_ptr<CAgentHost> m_host;
    std::unique_ptr<CControlServer> m_control;
    std::unique_ptr<ILinkStore> m_linkStore;  // the store as the link sees it
    std::unique_ptr<IServerLink> m_link;      // made before the bus, which wakes it, and started last
    std::unique_ptr<CTaskParser> m_parser;
    std::string m_instance;
    // Tasks published and not yet let go of by the module.
    std::atomic<std::size_t> m_unfinished{0};
    // Whether the module's releases of task messages mean the tasks are done (not while it stops).
    std::atomic<bool> m_tracking{false};
    // The module's worker reaches the store on its own thread (NoteSending, and Finish once the bus
    // has stopped): a module left running when the agent ends must find the store closed, never half
    // destroyed. Users share it: a mark that waits for the bus's open transaction holds it while that
    // transaction finishes tasks, which takes it too; only closing the store excludes them.
    std::shared_mutex m_storeLock;
    bool m_storeOpen = true;
    std::string m_input;  // standard input read so far, up to its next line end
    bool m_skippingInput = false;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
