#pragma once

#include <boost/thread/thread.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/ILoggerResource.h"

struct pollfd;

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's control channel: on Linux a Unix stream socket, readable by its owner only; on Windows
// a named pipe (\\.\pipe\NAME) that only SYSTEM and Administrators may open and that refuses remote
// clients. It takes JSON lines and answers each with one line from the handler. One thread serves every
// client and never waits for any of them: sockets are non-blocking, an answer the client does not take at
// once waits in its outbox, and the client's next lines are not read until it has taken it. The lines that
// arrived together, from one client or from several, go to the handler in one call, so that their tasks are
// stored together. A client that goes quiet, or leaves an answer untaken, for kIdleMilliseconds, or sends a
// line that is too long, is dropped; Stop ends the thread whatever the clients do.
class CControlServer {
public:
    // Returns the replies to request lines that arrived together, one per line and in their order,
    // without line ends. Must not throw.
    typedef std::function<std::vector<std::string>(const std::vector<std::string>& lines)> Handler;

    static constexpr size_t kMaxLine = 1 << 20;
    static constexpr int kIdleMilliseconds = 5000;
    // Clients served at once; further connections wait in the listen queue.
    static constexpr size_t kMaxClients = 32;

    CControlServer(std::string path, Handler handler, Common::Kernel::ILoggerResource& logger);
    ~CControlServer();

    // Makes the socket. Throws std::runtime_error when the path is too long, another agent serves
    // it already, or the socket cannot be made.
    void Bind();
    // Starts serving, binding first if that has not been done. Throws like Bind.
    void Start();
    // Stops serving and removes the socket file.
    void Stop();

    // The longest socket path the system takes.
    static size_t MaxPathLength();
    // False where the agent has no control channel: tasks come from standard input only, and Bind,
    // Start and Stop do nothing.
    static bool IsAvailable();

private:
    struct Client;
    // The Windows side: its pipe instances and the threads that serve them.
    struct Pipes;

    void Run();
    void Serve(std::vector<Client>& clients, const std::vector<pollfd>& fds);
    void Accept(std::vector<Client>& clients);
    // False once the client is gone.
    bool Receive(Client& client);
    void AnswerAll(std::vector<Client>& clients, const std::vector<bool>& keep);
    static void TakeLines(Client& client, size_t owner, std::vector<std::string>& lines,
                          std::vector<size_t>& owners);
    bool Flush(Client& client);

    std::string m_path;
    Handler m_handler;
    Common::Kernel::ILoggerResource& m_logger;
    bool m_bound = false;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    boost::thread m_thread;
    std::shared_ptr<Pipes> m_pipes;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
