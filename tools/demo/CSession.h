#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/demo/CChildProcess.h"
#include "tools/demo/CPublishedLog.h"

namespace Zun {
namespace Tools {
namespace Demo {

// quil-product and quil-agent running together in a fresh object root of their own, as the demo
// and the end-to-end tests use them. The folder holds the object root, the agent's database and
// log and a copy of the product's output; it is removed with the session unless it is kept.
// Every wait has a deadline and fails with a text that says what did not happen.
class CSession {
public:
    struct Options {
        std::string binaries;  // folder of quil-agent and quil-product
        std::string module;    // the connector library the agent loads
        bool keep = false;
    };
    explicit CSession(const Options& options);
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    const std::string& Folder() const { return m_folder; }
    std::string Database() const { return m_folder + "/agent/agent.db"; }
    std::string AgentLogFile() const { return m_folder + "/agent/agent.log"; }
    std::string ProductLogFile() const { return m_folder + "/product.log"; }
    std::string Binary(const std::string& name) const { return m_options.binaries + "/" + name; }

    // quil-product install / uninstall: whether the module finds a product at all.
    void InstallProduct();
    void UninstallProduct();
    // quil-product serve with the given state (built-in default when empty) and extra options.
    void StartProduct(const std::string& stateJson = "", const std::vector<std::string>& options = {});
    // Stops the product through its control socket; its exit code.
    int StopProduct();
    // quil-product ctl; throws when the product does not answer ok.
    std::string Control(const std::string& json);

    // quil-agent run on the session's folder, with more options of its own.
    void StartAgent(const std::vector<std::string>& options = {});
    // SIGTERM, as a service manager would; the agent's exit code.
    int StopAgent();
    // One task line on the agent's input; returns the agent's answer, throws when it refuses.
    std::string Send(const std::string& taskJson);
    // `quil-agent logs --db <database>` with more arguments; its output.
    std::string AgentLogs(const std::vector<std::string>& arguments = {});

    // Waits until the condition holds for what the agent has stored; throws naming what when it does not.
    void Require(const std::string& what, const std::function<bool(const CPublishedLog&)>& condition,
                 std::chrono::milliseconds timeout);
    // Waits until text appears on the agent's standard error after position from.
    void RequireAgentLine(const std::string& text, size_t from, std::chrono::milliseconds timeout);
    CPublishedLog Published() const { return CPublishedLog(Database()); }
    CChildProcess* Agent() { return m_agent.get(); }
    CChildProcess* Product() { return m_product.get(); }

private:
    void Enter() const;
    std::vector<CChildProcess*> Children();
    void RemoveFolder();

    Options m_options;
    std::string m_folder;
    std::unique_ptr<CChildProcess> m_product;
    std::unique_ptr<CChildProcess> m_agent;
    size_t m_answers = 0;
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
