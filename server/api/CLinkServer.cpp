#include "server/api/CLinkServer.h"

#include <grpcpp/grpcpp.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/security/tls_certificate_provider.h>
#include <grpcpp/security/tls_credentials_options.h>

#include <chrono>
#include <stdexcept>

#include "platform/CTrustedPath.h"
#include "server/api/CClientCertificateVerifier.h"
#include "server/api/CLinkRuntime.h"
#include "server/api/CLinkStream.h"
#include "server/api/CWorkPool.h"
#include "server/api/link.grpc.pb.h"
#include "server/service/IAgentLinkHandler.h"

namespace Zun {
namespace Server {

namespace {

const std::size_t kMaxPemBytes = 64 * 1024;
// Calls into the fleet service wait for the database; a few threads keep a slow commit from
// holding up every other agent.
const std::size_t kWorkers = 4;
// How long streams have to end on their own before Stop cancels them.
const std::chrono::seconds kShutdownGrace(2);
// Agents idle for long stretches: keepalives find dead connections without traffic of ours.
const int kKeepaliveMs = 60 * 1000;
const int kKeepaliveTimeoutMs = 20 * 1000;
const int kMinAgentPingMs = 30 * 1000;
// What an idle connection holds is what ten thousand agents cost: TLS records of at most 4 KiB
// (gRPC keeps a buffer of one per connection, 16 KiB by default) and reads that start at 4 KiB.
// Agents' messages are a few hundred bytes; a larger row comes in several records.
const int kTlsFrameBytes = 4 * 1024;
const int kReadChunkBytes = 4 * 1024;

class CLinkService : public quil::link::v1::AgentLink::CallbackService {
public:
    CLinkService(IAgentLinkHandler& handler, CWorkPool& pool, const CLinkServer::Log& log)
        : m_handler(handler), m_pool(pool), m_log(log) {}

    grpc::ServerBidiReactor<quil::link::v1::AgentMessage, quil::link::v1::ServerMessage>* Connect(
        grpc::CallbackServerContext* context) override {
        return CLinkStream::Open(context, m_handler, m_pool, m_log);
    }

private:
    IAgentLinkHandler& m_handler;
    CWorkPool& m_pool;
    CLinkServer::Log m_log;
};

std::string ReadPem(const std::string& what, const std::string& path) {
    try {
        return Platform::CTrustedPath::ReadTrustedFile(path, kMaxPemBytes);
    } catch (const std::exception& e) {
        throw std::runtime_error("the link's " + what + ": " + e.what());
    }
}

}  // namespace

class CLinkServer::CImpl {
public:
    CImpl(const Settings& settings, IAgentLinkHandler& handler, Log log)
        : m_settings(settings), m_handler(handler), m_log(std::move(log)) {}

    void Start() {
        CLinkRuntime::Prepare();
        const std::string ca = ReadPem("CA certificate", m_settings.caCertificate);
        grpc::experimental::IdentityKeyCertPair identity;
        identity.private_key = ReadPem("private key", m_settings.privateKey);
        identity.certificate_chain = ReadPem("certificate", m_settings.certificate);
        auto provider = std::make_shared<grpc::experimental::StaticDataCertificateProvider>(
            ca, std::vector<grpc::experimental::IdentityKeyCertPair>{identity});
        grpc::experimental::TlsServerCredentialsOptions options(provider);
        options.watch_root_certs();
        options.watch_identity_key_cert_pairs();
        // gRPC hands the chain to our verifier unchecked, so that every refusal gets a log line
        // naming the certificate; the verifier checks it against the CA as TLS would.
        options.set_cert_request_type(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_BUT_DONT_VERIFY);
        options.set_certificate_verifier(
            grpc::experimental::ExternalCertificateVerifier::Create<CClientCertificateVerifier>(ca, m_log));
        m_pool.reset(new CWorkPool(kWorkers, [this] { m_handler.WorkerStarted(); }));
        m_service.reset(new CLinkService(m_handler, *m_pool, m_log));
        grpc::ServerBuilder builder;
        builder.AddListeningPort(m_settings.listen, grpc::experimental::TlsServerCredentials(options),
                                 &m_port);
        builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, kKeepaliveMs);
        builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, kKeepaliveTimeoutMs);
        // Agents ping about once a minute on an idle stream; gRPC's default (one ping in 5 minutes)
        // would count that as abuse and close their connections.
        builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, kMinAgentPingMs);
        builder.AddChannelArgument(GRPC_ARG_TSI_MAX_FRAME_SIZE, kTlsFrameBytes);
        builder.AddChannelArgument(GRPC_ARG_TCP_READ_CHUNK_SIZE, kReadChunkBytes);
        // No probing for a larger window: nothing an agent sends needs one.
        builder.AddChannelArgument(GRPC_ARG_HTTP2_BDP_PROBE, 0);
        builder.RegisterService(m_service.get());
        m_server = builder.BuildAndStart();
        if (!m_server || m_port == 0) {
            m_server.reset();
            m_pool->Stop();
            throw std::runtime_error("the link cannot listen on " + m_settings.listen +
                                     " (address in use or not valid)");
        }
        // With port 0 the system picked one: the line names the address agents can use.
        const std::string host = m_settings.listen.substr(0, m_settings.listen.rfind(':'));
        m_log(1, "Link listening for agents on " + host + ":" + std::to_string(m_port));
    }

    void Stop() {
        if (m_server) {
            m_server->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
            m_server->Wait();
            m_server.reset();
        }
        if (m_pool) {
            m_pool->Stop();  // the handler hears of every stream's end before this returns
        }
    }

    int Port() const { return m_port; }

private:
    Settings m_settings;
    IAgentLinkHandler& m_handler;
    Log m_log;
    std::unique_ptr<CWorkPool> m_pool;
    std::unique_ptr<CLinkService> m_service;
    std::unique_ptr<grpc::Server> m_server;
    int m_port = 0;
};

CLinkServer::CLinkServer(const Settings& settings, IAgentLinkHandler& handler, Log log)
    : m_impl(new CImpl(settings, handler, std::move(log))) {}

CLinkServer::~CLinkServer() {
    Stop();
}

void CLinkServer::Start() {
    m_impl->Start();
}

void CLinkServer::Stop() {
    m_impl->Stop();
}

int CLinkServer::Port() const {
    return m_impl->Port();
}

}  // namespace Server
}  // namespace Zun
