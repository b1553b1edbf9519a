#pragma once

#include <chrono>
#include <map>
#include <string>

#include "tools/demo/CSession.h"
#include "tools/demo/CStepTally.h"

namespace Zun {
namespace Tools {
namespace Demo {

// The guided tour: quil-product and quil-agent with the production module, one scenario that
// exercises every capability of the connector, then a summary of everything the agent stored.
// The module keeps its production timing (a watchdog look every 10 seconds, a reconnect 10
// seconds after a failure), so tasks go out in batches and each step waits for its outcome in the
// agent's database rather than for a fixed time.
class CDemo {
public:
    explicit CDemo(const CSession::Options& options);
    // Runs the scenario; throws with a text saying which step did not come true.
    void Run();
    void PrintSummary();
    // "N of M steps met their deadline": the steps that came true before the run ended or failed;
    // after Ctrl-C, the step it stopped in.
    std::string Verdict() const;
    const CSession& Session() const { return m_session; }

private:
    void StartBoth();
    void FirstLook();
    void SendBatch();
    void TaskResults();
    void ProductRestart();
    void ExportAgain();
    void Stop();
    void ShowAgentTail();

    void Step(const std::string& title);
    void Fact(const std::string& text);
    std::string Gist(const CPublished& message) const;
    // Waits for the task result event that carries the task identifier first.
    CPublished RequireResult(const std::string& first, std::chrono::milliseconds timeout);

    // The scenario's steps, each a Step() call of Run()'s parts.
    static const int kSteps = 9;

    CSession m_session;
    CStepTally m_steps{kSteps};
    std::chrono::steady_clock::time_point m_start;
    std::map<std::string, std::string> m_taskNames;  // first task identifier -> task
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
