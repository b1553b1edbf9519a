#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/link/IServerLink.h"

namespace Zun {
namespace Tools {
namespace Agent {

class ILinkStore;

// The agent's link to quil-server, on a thread of its own: one gRPC stream over mutual TLS with the
// computer's certificate from its bundle. It sends every committed row the server has not
// acknowledged, in sequence order (recovery data unsealed into the message, inside TLS only),
// keeps what the server acknowledged in the store so that pruning spares the rest, runs the task
// lines the server delivers as any other task and answers them. A task is taken once: the highest
// task id taken is kept in the store with the task itself.
//
// When the stream breaks it reconnects after a back-off with full jitter (CReconnectBackoff).
// Not available on Windows yet: Start there throws, naming the reason. On Linux it is built into a
// library of its own with gRPC, which the agent loads only when a server is configured
// (CServerLinkLoader): an agent without a server never maps gRPC's pages.
class CServerLink : public IServerLink {
public:
    struct Settings {
        std::string server;  // host:port
        std::string bundle;  // PEM: the computer's key, its certificate, the CA certificate
        std::string agentVersion;
        std::string instance;  // the module's instance UUID
        std::chrono::milliseconds firstRetry{1000};
        std::chrono::milliseconds maxRetry{5 * 60 * 1000};
    };
    // Runs a task line as the agent runs any task and returns its JSON answer. `taken` must be
    // called inside the unit of work that stores the task, so that the id is kept with it.
    using TaskRunner =
        std::function<std::string(const std::string& line, const std::function<void()>& taken)>;
    using Log = std::function<void(const std::string& text, CAgentLogger::Level level)>;

    static bool IsAvailable();

    CServerLink(const Settings& settings, ILinkStore& store, TaskRunner runner, Log log);
    ~CServerLink() override;
    CServerLink(const CServerLink&) = delete;
    CServerLink& operator=(const CServerLink&) = delete;

    // Checks the bundle (owner-only, holds a key and two certificates) and starts the link's thread;
    // throws std::runtime_error naming what is wrong.
    void Start() override;
    void Wake() override;
    void Stop() override;

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
