#include "server/api/CPeerCertificate.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace Zun {
namespace Server {

std::string CPeerCertificate::SerialOf(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  &BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
    if (!certificate) {
        throw std::runtime_error("the peer's certificate cannot be read");
    }
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(
        ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate.get()), nullptr), &BN_free);
    std::unique_ptr<char, void (*)(char*)> hex(serial ? BN_bn2hex(serial.get()) : nullptr,
                                               [](char* p) { OPENSSL_free(p); });
    if (!hex) {
        throw std::runtime_error("the peer's certificate has no readable serial");
    }
    return hex.get();
}

}  // namespace Server
}  // namespace Zun
