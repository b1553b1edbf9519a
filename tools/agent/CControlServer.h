#pragma once

#include <boost/thread/thread.hpp>
#include <functional>
#include <string>
#include <vector>

#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's control socket: a Unix stream socket, readable by its owner only, that takes JSON
// lines and answers each with one line from the handler. One thread serves every client and never
// waits for any of them: sockets are non-blocking, an answer the client does not take at once
// waits in its outbox, and the client's next lines are not read until it has taken it. A client
// that goes quiet, or leaves an answer untaken, for kIdleMilliseconds, or sends a line that is too
// long, is dropped; Stop ends the thread whatever the clients do.
class CControlServer {
public:
    // Returns the reply to one request line, without the line end. Must not throw.
    typedef std::function<std::string(const std::string& line)> Handler;

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
    // False where the agent has no control channel (Windows): tasks come from standard input only,
    // and Bind, Start and Stop do nothing.
    static bool IsAvailable();

private:
    struct Client;

    void Run();
    void Accept(std::vector<Client>& clients);
    // False once the client is done with: gone, refused or past its deadline.
    bool Receive(Client& client);
    void Answer(Client& client, bool closed);
    bool Flush(Client& client);

    std::string m_path;
    Handler m_handler;
    Common::Kernel::ILoggerResource& m_logger;
    bool m_bound = false;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    boost::thread m_thread;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
