#pragma once

#include <ostream>

#include "server/CServerOptions.h"

namespace Zun {
namespace Server {

// The administrator's commands of quil-server (hosts, host, reveal, audit, task, tasks): one request
// to the running server's admin socket, its answer printed for a person (or as JSON with --json).
class CServerCommands {
public:
    // Returns the exit code: 0, 1 when the server refused the request, 69 when no server answers.
    static int Admin(const CServerOptions& options, std::ostream& out, std::ostream& err);
    // The request line the command sends.
    static std::string Request(const CServerOptions& options);
};

}  // namespace Server
}  // namespace Zun
