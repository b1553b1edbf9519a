#pragma once

#include <grpcpp/security/tls_certificate_verifier.h>

#include <memory>
#include <string>

#include "server/api/CLinkServer.h"

struct x509_store_st;

namespace Zun {
namespace Server {

// Checks an agent's certificate chain during the TLS handshake: issued by the server's CA, in its
// validity period, meant for TLS clients. TLS would refuse the same certificates by itself, but
// silently; here each refusal leaves a log line naming the certificate and the reason.
class CClientCertificateVerifier : public grpc::experimental::ExternalCertificateVerifier {
public:
    CClientCertificateVerifier(const std::string& caPem, CLinkServer::Log log);
    ~CClientCertificateVerifier() override;

    bool Verify(grpc::experimental::TlsCustomVerificationCheckRequest* request,
                std::function<void(grpc::Status)> callback, grpc::Status* syncStatus) override;
    void Cancel(grpc::experimental::TlsCustomVerificationCheckRequest* request) override;

    // Empty when the client's certificate (PEM), with the intermediates it sent, is good; otherwise
    // why not.
    std::string Check(const std::string& certificatePem, const std::string& chainPem,
                      const std::string& commonName) const;

private:
    x509_store_st* m_store;
    CLinkServer::Log m_log;
};

}  // namespace Server
}  // namespace Zun
