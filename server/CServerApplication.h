#pragma once

#include <fstream>
#include <mutex>
#include <string>

#include "server/CServerOptions.h"
#include "server/admin/CCertificateAuthority.h"
#include "server/console/CConsoleServer.h"

namespace Zun {
namespace Server {

// quil-server's commands that act on the state folder itself: run (the link, the fleet service, the
// admin socket and the console over the database), the CA's init, enrol and revoke, and user add. Each
// returns the exit code.
class CServerApplication {
public:
    explicit CServerApplication(const CServerOptions& options);

    int Run();
    int CaInit();
    int Enrol();
    int Revoke();
    int UserAdd();

    // level: 0 debug, 1 info, 2 warn, 3 error; below the log level nothing is written.
    void Log(int level, const std::string& text);

private:
    std::string CaFolder() const;
    CConsoleServer::Settings ConsoleSettings(const CCertificateAuthority& authority) const;
    static void BlockStopSignals();
    static int WaitForStop();

    CServerOptions m_options;
    int m_threshold;
    std::mutex m_logLock;
    std::ofstream m_logFile;
};

}  // namespace Server
}  // namespace Zun
