#include "tools/demo/CSession.h"

#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Demo {

namespace {

const std::chrono::seconds kStartDeadline(15);
const std::chrono::seconds kCommandDeadline(15);
const char kFolderPattern[] = "/tmp/quil-session-XXXXXX";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

}  // namespace

CSession::CSession(const Options& options) : m_options(options) {
    char pattern[sizeof kFolderPattern];
    std::copy(kFolderPattern, kFolderPattern + sizeof kFolderPattern, pattern);
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("Cannot make a folder under /tmp");
    }
    m_folder = pattern;
    mkdir((m_folder + "/agent").c_str(), 0700);
    Enter();
}

// Both programs and every ctl call find each other's named objects under this root only. Several
// sessions may live in one process (the fleet demo), so each sets its root before it starts a child.
void CSession::Enter() const {
    setenv("QUIL_OBJECT_ROOT", m_folder.c_str(), 1);
}

CSession::~CSession() {
    m_agent.reset();
    m_product.reset();
    if (!m_options.keep) {
        RemoveFolder();
    }
}

void CSession::RemoveFolder() {
    // Only ever the folder mkdtemp made for this session.
    if (m_folder.compare(0, 18, "/tmp/quil-session-") == 0 && m_folder.size() == sizeof kFolderPattern - 1) {
        nftw(m_folder.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

std::vector<CChildProcess*> CSession::Children() {
    std::vector<CChildProcess*> children;
    for (CChildProcess* child : {m_agent.get(), m_product.get()}) {
        if (child != nullptr) {
            children.push_back(child);
        }
    }
    return children;
}

void CSession::InstallProduct() {
    Enter();
    std::string output;
    if (CChildProcess::Run({Binary("quil-product"), "install"}, output, After(kCommandDeadline)) != 0) {
        throw std::runtime_error("quil-product install failed: " + output);
    }
}

void CSession::UninstallProduct() {
    Enter();
    std::string output;
    if (CChildProcess::Run({Binary("quil-product"), "uninstall"}, output, After(kCommandDeadline)) != 0) {
        throw std::runtime_error("quil-product uninstall failed: " + output);
    }
}

void CSession::StartProduct(const std::string& stateJson, const std::vector<std::string>& options) {
    Enter();
    std::vector<std::string> argv = {Binary("quil-product"), "serve"};
    if (!stateJson.empty()) {
        const std::string path = m_folder + "/state.json";
        std::ofstream(path) << stateJson;
        argv.insert(argv.end(), {"--state", path});
    }
    argv.insert(argv.end(), options.begin(), options.end());
    m_product.reset(new CChildProcess(argv, ProductLogFile()));
    CChildProcess* product = m_product.get();
    if (!CChildProcess::WaitUntil(
            Children(), [product] { return product->Errors().find("serving") != std::string::npos; },
            After(kStartDeadline))) {
        throw std::runtime_error("quil-product did not start serving: " + product->Errors());
    }
}

int CSession::StopProduct() {
    if (!m_product) {
        return -1;
    }
    Control("{\"op\":\"stop\"}");
    const int code = m_product->WaitForExit(After(kCommandDeadline));
    m_product.reset();
    return code;
}

std::string CSession::Control(const std::string& json) {
    Enter();
    std::string output;
    // On standard input, never on the command line, where every user could read a recovery secret.
    if (CChildProcess::Run({Binary("quil-product"), "ctl", "-"}, output, After(kCommandDeadline), json) !=
        0) {
        throw std::runtime_error("quil-product ctl " + json + " failed: " + output);
    }
    return output;
}

void CSession::StartAgent(const std::vector<std::string>& options) {
    Enter();
    std::vector<std::string> argv = {Binary("quil-agent"),
                                     "run",
                                     "--db",
                                     Database(),
                                     "--log",
                                     AgentLogFile(),
                                     "--control",
                                     m_folder + "/agent/agent.sock",
                                     "--module",
                                     m_options.module};
    argv.insert(argv.end(), options.begin(), options.end());
    m_agent.reset(new CChildProcess(argv));
    m_answers = 0;
    RequireAgentLine("running", 0, kStartDeadline);
}

int CSession::StopAgent() {
    if (!m_agent) {
        return -1;
    }
    m_agent->Signal(SIGTERM);
    // The agent gives the module a grace period of 5 seconds before it forces it.
    const int code = m_agent->WaitForExit(After(kCommandDeadline));
    return code;
}

std::string CSession::Send(const std::string& taskJson) {
    if (!m_agent) {
        throw std::runtime_error("No agent runs");
    }
    m_agent->WriteInput(taskJson + "\n");
    const size_t answer = m_answers++;
    CChildProcess* agent = m_agent.get();
    // Answers come one line per task, in order.
    auto lines = [agent] {
        return static_cast<size_t>(std::count(agent->Output().begin(), agent->Output().end(), '\n'));
    };
    if (!CChildProcess::WaitUntil(
            Children(), [&] { return lines() > answer; }, After(kCommandDeadline))) {
        throw std::runtime_error("The agent did not answer " + taskJson);
    }
    size_t start = 0;
    for (size_t i = 0; i < answer; ++i) {
        start = agent->Output().find('\n', start) + 1;
    }
    const std::string line = agent->Output().substr(start, agent->Output().find('\n', start) - start);
    if (line.find("\"ok\":true") == std::string::npos) {
        throw std::runtime_error("The agent refused " + taskJson + ": " + line);
    }
    return line;
}

std::string CSession::AgentLogs(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {Binary("quil-agent"), "logs", "--db", Database()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CChildProcess logs(argv);
    logs.CloseInput();
    if (logs.WaitForExit(After(kCommandDeadline)) != 0) {
        throw std::runtime_error("quil-agent logs failed: " + logs.Errors());
    }
    return logs.Output();
}

void CSession::Require(const std::string& what, const std::function<bool(const CPublishedLog&)>& condition,
                       std::chrono::milliseconds timeout) {
    const CPublishedLog published(Database());
    if (!CChildProcess::WaitUntil(
            Children(), [&] { return condition(published); }, After(timeout))) {
        throw std::runtime_error(CChildProcess::Interrupted() ? "Interrupted"
                                                              : "Timed out waiting for " + what);
    }
}

void CSession::RequireAgentLine(const std::string& text, size_t from, std::chrono::milliseconds timeout) {
    CChildProcess* agent = m_agent.get();
    if (agent == nullptr ||
        !CChildProcess::WaitUntil(
            Children(), [&] { return agent->Errors().find(text, from) != std::string::npos; },
            After(timeout))) {
        throw std::runtime_error(
            CChildProcess::Interrupted() ? "Interrupted" : "Timed out waiting for the agent to log " + text);
    }
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
