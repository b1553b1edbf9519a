#include "server/console/CConsoleServer.h"

#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/SecureServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <stdexcept>

namespace Zun {
namespace Server {

namespace {

// Forward secrecy and AEAD only, for the TLS 1.2 clients; TLS 1.3 has its own list.
const char* const kCiphers = "ECDHE+AESGCM:ECDHE+CHACHA20";

class CHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit CHandler(CConsoleRouter& router) : m_router(router) {}
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override {
        m_router.Serve(request, response);
    }

private:
    CConsoleRouter& m_router;
};

class CHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit CHandlerFactory(CConsoleRouter& router) : m_router(router) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override {
        return new CHandler(m_router);
    }

private:
    CConsoleRouter& m_router;
};

Poco::Net::Context::Ptr ServerContext(const CConsoleServer::Settings& settings) {
    Poco::Net::Context::Params params;
    params.privateKeyFile = settings.keyFile;
    params.certificateFile = settings.certificateFile;
    params.verificationMode = Poco::Net::Context::VERIFY_NONE;
    params.cipherList = kCiphers;
    params.loadDefaultCAs = false;
    Poco::Net::Context::Ptr context = new Poco::Net::Context(Poco::Net::Context::TLS_SERVER_USE, params);
    context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
    context->preferServerCiphers();
    return context;
}

}  // namespace

CConsoleServer::CConsoleServer(const Settings& settings, CConsoleRouter& router)
    : m_settings(settings), m_router(router) {}

CConsoleServer::~CConsoleServer() {
    Stop();
}

void CConsoleServer::Start() {
    try {
        Poco::Net::SecureServerSocket socket(Poco::Net::SocketAddress(m_settings.listen), kQueued,
                                             ServerContext(m_settings));
        Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
        params->setMaxThreads(kThreads);
        params->setMaxQueued(kQueued);
        params->setTimeout(Poco::Timespan(kTimeoutSeconds, 0));
        params->setServerName("quil-server");
        params->setSoftwareVersion("");
        m_server.reset(new Poco::Net::HTTPServer(new CHandlerFactory(m_router), socket, params));
        m_server->start();
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("the console cannot serve on " + m_settings.listen + " with " +
                                 m_settings.certificateFile + ": " + e.displayText());
    }
}

void CConsoleServer::Stop() {
    if (m_server) {
        m_server->stopAll(true);
        m_server.reset();
    }
}

uint16_t CConsoleServer::Port() const {
    return m_server ? m_server->port() : 0;
}

}  // namespace Server
}  // namespace Zun
