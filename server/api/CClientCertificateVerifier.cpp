#include "server/api/CClientCertificateVerifier.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "server/api/CPeerCertificate.h"

namespace Zun {
namespace Server {

namespace {

const int kWarn = 2;

using Chain = std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)>;

void FreeChain(STACK_OF(X509) * chain) {
    sk_X509_pop_free(chain, X509_free);
}

Chain ReadChain(const std::string& pem) {
    Chain chain(sk_X509_new_null(), &FreeChain);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  &BIO_free);
    while (bio && chain) {
        X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (certificate == nullptr) {
            break;
        }
        sk_X509_push(chain.get(), certificate);
    }
    ERR_clear_error();  // the end of the text reads as an error
    return chain;
}

}  // namespace

CClientCertificateVerifier::CClientCertificateVerifier(const std::string& caPem, CLinkServer::Log log)
    : m_store(X509_STORE_new()), m_log(std::move(log)) {
    Chain authorities = ReadChain(caPem);
    if (m_store == nullptr || !authorities || sk_X509_num(authorities.get()) == 0) {
        X509_STORE_free(m_store);
        throw std::runtime_error("the link's CA certificate cannot be read");
    }
    for (int i = 0; i < sk_X509_num(authorities.get()); ++i) {
        X509_STORE_add_cert(m_store, sk_X509_value(authorities.get(), i));
    }
}

CClientCertificateVerifier::~CClientCertificateVerifier() {
    X509_STORE_free(m_store);
}

std::string CClientCertificateVerifier::Check(const std::string& certificatePem, const std::string& chainPem,
                                              const std::string& commonName) const {
    Chain leaves = ReadChain(certificatePem);
    Chain chain = ReadChain(chainPem);
    if (!leaves || !chain || sk_X509_num(leaves.get()) == 0) {
        return "no certificate";
    }
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(),
                                                                            &X509_STORE_CTX_free);
    X509* leaf = sk_X509_value(leaves.get(), 0);
    if (!context || X509_STORE_CTX_init(context.get(), m_store, leaf, chain.get()) != 1) {
        return "cannot verify";
    }
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_CLIENT);
    const bool verified = X509_verify_cert(context.get()) == 1;
    ERR_clear_error();
    if (verified && commonName.empty()) {
        return "the certificate names no computer";
    }
    return verified ? std::string() : X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
}

bool CClientCertificateVerifier::Verify(grpc::experimental::TlsCustomVerificationCheckRequest* request,
                                        std::function<void(grpc::Status)>, grpc::Status* syncStatus) {
    // On a server, OpenSSL's chain of the peer leaves out the peer's own certificate.
    const std::string certificate(request->peer_cert().data(), request->peer_cert().size());
    const std::string chain(request->peer_cert_full_chain().data(), request->peer_cert_full_chain().size());
    const std::string name(request->common_name().data(), request->common_name().size());
    const std::string reason = Check(certificate, chain, name);
    if (reason.empty()) {
        *syncStatus = grpc::Status::OK;
        return true;
    }
    std::string serial = "unreadable";
    try {
        serial = CPeerCertificate::SerialOf(certificate);
    } catch (const std::exception&) {
    }
    m_log(kWarn, "Refused a client certificate in the TLS handshake (CN \"" + name + "\", serial " + serial +
                     "): " + reason);
    *syncStatus = grpc::Status(grpc::StatusCode::UNAUTHENTICATED, reason);
    return true;
}

void CClientCertificateVerifier::Cancel(grpc::experimental::TlsCustomVerificationCheckRequest*) {}

}  // namespace Server
}  // namespace Zun
