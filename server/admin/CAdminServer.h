#pragma once

#include <sys/types.h>

#include <boost/thread/thread.hpp>
#include <functional>
#include <string>
#include <vector>

#include "server/admin/CAdminCommands.h"

namespace Zun {
namespace Server {

// The administrator's Unix socket: mode 0660, so its owner and its group may connect, and each
// peer is checked again through the kernel (SO_PEERCRED and SO_PEERGROUPS) since a socket's mode
// says nothing once a connection is open: root, the server's own user and members of the socket's
// group are served, anyone else is refused with one answer and logged. JSON lines; clients are
// served one at a time, and one that goes quiet is dropped.
class CAdminServer {
public:
    typedef std::function<std::string(const std::string& line, const CAdminCommands::Peer& peer)> Handler;
    typedef std::function<void(int level, const std::string& text)> Log;

    static constexpr size_t kMaxLine = 1 << 20;
    static constexpr int kIdleMilliseconds = 5000;

    // group: the group the socket is handed to; -1 keeps the server's own.
    CAdminServer(std::string path, Handler handler, Log log, gid_t group = static_cast<gid_t>(-1));
    ~CAdminServer();
    CAdminServer(const CAdminServer&) = delete;
    CAdminServer& operator=(const CAdminServer&) = delete;

    // Throws std::runtime_error when the socket cannot be made or another server serves it.
    void Start();
    void Stop();

    // Whether a peer may use the socket whose group is `group`.
    static bool MayUse(uid_t uid, const std::vector<gid_t>& groups, gid_t group);

private:
    void Bind();
    void Run();
    void Serve(int client);
    bool ReadMore(int client, std::string& buffer);
    static void Reply(int client, const std::string& text);

    std::string m_path;
    Handler m_handler;
    Log m_log;
    gid_t m_group;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    bool m_bound = false;
    boost::thread m_thread;
};

}  // namespace Server
}  // namespace Zun
