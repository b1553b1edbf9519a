#pragma once

#include <functional>
#include <memory>
#include <string>

namespace Zun {
namespace Server {

class IAgentLinkHandler;

// The agents' endpoint: gRPC over mutual TLS 1.3. A client must present a certificate that the
// server's CA issued; the computer's name is the certificate's common name. Each stream is handed
// to the handler: rows committed and acknowledged, task lines delivered, answers passed back.
class CLinkServer {
public:
    struct Settings {
        std::string listen;         // host:port; port 0 picks a free one (see Port)
        std::string caCertificate;  // PEM file: the CA that issued agents' certificates
        std::string certificate;    // PEM file: the server's certificate
        std::string privateKey;     // PEM file, owner-only: the server's key
    };
    // level: 0 debug, 1 info, 2 warn, 3 error.
    using Log = std::function<void(int level, const std::string& text)>;

    CLinkServer(const Settings& settings, IAgentLinkHandler& handler, Log log);
    ~CLinkServer();
    CLinkServer(const CLinkServer&) = delete;
    CLinkServer& operator=(const CLinkServer&) = delete;

    // Throws std::runtime_error naming what was wrong (files, address in use).
    void Start();
    // Ends every stream and waits for the link's threads.
    void Stop();
    int Port() const;

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};

}  // namespace Server
}  // namespace Zun
