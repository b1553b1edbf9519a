#pragma once

#include <boost/thread/thread.hpp>
#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's control socket: a Unix stream socket, readable by its owner only, that takes JSON
// lines and answers each with one line from the handler. Clients are served side by side by one
// thread: the lines that arrived together, from one client or from several, go to the handler in
// one call, so that their tasks are stored together. A client that goes quiet for a while, sends a
// line that is too long or does not take its answers is dropped.
class CControlServer {
public:
    // Returns the replies to request lines that arrived together, one per line and in their order,
    // without line ends. Must not throw.
    typedef std::function<std::vector<std::string>(const std::vector<std::string>& lines)> Handler;

    static constexpr size_t kMaxLine = 1 << 20;
    static constexpr int kIdleMilliseconds = 5000;
    // Connections served at once; more wait in the listener's backlog.
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
    struct Client {
        int fd = -1;
        std::string buffer;  // read so far, up to its next line end
        std::chrono::steady_clock::time_point heard;
        bool done = false;  // to be closed once its answers are out
    };
    struct Request {
        Client* client;
        std::string line;
        bool overlong;  // no line: the refusal of one that grew too long
    };

    void Run();
    void Accept(std::list<Client>& clients);
    void Read(Client& client, std::vector<Request>& requests);
    void Answer(const std::vector<Request>& requests);
    static int PollTimeout(const std::list<Client>& clients);
    static bool Reply(int client, const std::string& text);

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
