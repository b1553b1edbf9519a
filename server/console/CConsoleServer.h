#pragma once

#include <Poco/Net/HTTPServer.h>
#include <cstdint>
#include <memory>
#include <string>

#include "server/console/CConsoleRouter.h"

namespace Zun {
namespace Server {

// The console's HTTPS listener: Poco's HTTP server on a TLS socket that speaks TLS 1.2 or later
// only, with the server's certificate (from its CA) or one the administrator gave. Requests are
// served by a few threads of its own, each through the router.
class CConsoleServer {
public:
    struct Settings {
        std::string listen;  // host:port; port 0 takes a free one
        std::string certificateFile;
        std::string keyFile;
    };

    static const int kThreads = 4;
    static const int kQueued = 64;
    static const int kTimeoutSeconds = 30;

    CConsoleServer(const Settings& settings, CConsoleRouter& router);
    ~CConsoleServer();
    CConsoleServer(const CConsoleServer&) = delete;
    CConsoleServer& operator=(const CConsoleServer&) = delete;

    // Throws std::runtime_error naming what could not be used (the address, the certificate).
    void Start();
    void Stop();
    uint16_t Port() const;

private:
    Settings m_settings;
    CConsoleRouter& m_router;
    std::unique_ptr<Poco::Net::HTTPServer> m_server;
};

}  // namespace Server
}  // namespace Zun
