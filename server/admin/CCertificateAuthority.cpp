#include "server/admin/CCertificateAuthority.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/CTrustedPath.h"

namespace Zun {
namespace Server {

using Platform::CTrustedPath;

namespace {

const char* const kCaKey = "ca.key";
const char* const kCaCertificate = "ca.crt";
const char* const kServerKey = "server.key";
const char* const kServerCertificate = "server.crt";
const char* const kIssued = "issued";
const char* const kCurve = "P-256";
const char* const kCaName = "quil-server CA";
const char* const kServerName = "quil-server";
const int kCaDays = 3650;
const int kServerDays = 825;
const long kSecondsPerDay = 24L * 60 * 60;
// Clocks of agents and server differ a little; a fresh certificate is valid from a while back.
const long kClockSkewSeconds = 5 * 60;
// 128 random bits, the top one clear so that the serial stays positive.
const int kSerialBytes = 16;
const std::size_t kMaxFileBytes = 64 * 1024;
const mode_t kOwnerOnly = 0600;

struct Deleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(ASN1_INTEGER* p) const { ASN1_INTEGER_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(char* p) const { OPENSSL_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter>;
using Certificate = std::unique_ptr<X509, Deleter>;
using Bio = std::unique_ptr<BIO, Deleter>;

std::runtime_error OpenSslFailure(const std::string& what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "unknown error";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    ERR_clear_error();
    return std::runtime_error(what + ": " + text);
}

template <typename T>
T* Checked(T* value, const std::string& what) {
    if (value == nullptr) {
        throw OpenSslFailure(what);
    }
    return value;
}

void CheckedCall(int result, const std::string& what) {
    if (result <= 0) {
        throw OpenSslFailure(what);
    }
}

Key NewKey() {
    return Key(Checked(EVP_EC_gen(kCurve), "cannot make a key"));
}

std::string Pem(const std::function<int(BIO*)>& write) {
    Bio bio(Checked(BIO_new(BIO_s_mem()), "cannot allocate"));
    CheckedCall(write(bio.get()), "cannot write PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    std::string pem(data, static_cast<std::size_t>(size));
    OPENSSL_cleanse(data, static_cast<std::size_t>(size));
    return pem;
}

std::string KeyPem(EVP_PKEY* key) {
    return Pem([key](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

std::string CertificatePem(X509* certificate) {
    return Pem([certificate](BIO* bio) { return PEM_write_bio_X509(bio, certificate); });
}

// Creates the file exclusively and owner-only, refusing a symlink or anything already there.
void WriteNewFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (fd < 0) {
        throw std::runtime_error(path + ": cannot create: " + std::strerror(errno));
    }
    std::size_t written = 0;
    bool failed = ::fchmod(fd, kOwnerOnly) != 0;
    while (!failed && written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        failed = n < 0 && errno != EINTR;
        written += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    failed = ::fsync(fd) != 0 || failed;
    ::close(fd);
    if (failed) {
        ::unlink(path.c_str());
        throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
    }
}

// Replaces a record through a file built aside, so a reader never sees half of one.
void ReplaceFile(const std::string& path, const std::string& content) {
    std::string aside;
    const int fd = CTrustedPath::CreateTemporary(path + ".", aside);
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!written || !synced || ::rename(aside.c_str(), path.c_str()) != 0) {
        ::unlink(aside.c_str());
        throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
    }
}

Key ReadKey(const std::string& path) {
    std::string pem = CTrustedPath::ReadTrustedFile(path, kMaxFileBytes);
    Bio bio(Checked(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "cannot allocate"));
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    OPENSSL_cleanse(&pem[0], pem.size());
    if (!key) {
        throw OpenSslFailure(path + ": not a private key");
    }
    return key;
}

Certificate ReadCertificate(const std::string& path) {
    const std::string pem = CTrustedPath::ReadTrustedFile(path, kMaxFileBytes);
    Bio bio(Checked(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "cannot allocate"));
    return Certificate(
        Checked(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), path + ": not a certificate"));
}

std::string RandomSerial(ASN1_INTEGER*& serial) {
    unsigned char bytes[kSerialBytes];
    CheckedCall(RAND_bytes(bytes, sizeof bytes), "cannot draw a serial");
    bytes[0] &= 0x7F;
    bytes[0] |= 0x40;  // no leading zero byte, so every serial has the same length
    std::unique_ptr<BIGNUM, Deleter> number(Checked(BN_bin2bn(bytes, sizeof bytes, nullptr), "serial"));
    serial = Checked(BN_to_ASN1_INTEGER(number.get(), nullptr), "serial");
    std::unique_ptr<char, Deleter> hex(Checked(BN_bn2hex(number.get()), "serial"));
    return hex.get();
}

std::string IsoTime(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Deleter> extension(
        Checked(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()), "extension " + value));
    CheckedCall(X509_add_ext(certificate, extension.get(), -1), "extension " + value);
}

struct Request {
    std::string commonName;
    EVP_PKEY* key = nullptr;  // the subject's
    X509* issuer = nullptr;   // null: self-signed
    EVP_PKEY* issuerKey = nullptr;
    long validSeconds = 0;  // negative: expired already
    std::vector<std::pair<int, std::string>> extensions;
};

// Signs a certificate for the request; returns it and sets serial to its hex serial.
Certificate Sign(const Request& request, std::string& serialHex) {
    Certificate certificate(Checked(X509_new(), "cannot allocate"));
    X509* x = certificate.get();
    CheckedCall(X509_set_version(x, X509_VERSION_3), "version");
    ASN1_INTEGER* serial = nullptr;
    serialHex = RandomSerial(serial);
    std::unique_ptr<ASN1_INTEGER, Deleter> owned(serial);
    CheckedCall(X509_set_serialNumber(x, serial), "serial");
    std::time_t now = std::time(nullptr);
    const long from = request.validSeconds < 0 ? request.validSeconds - kSecondsPerDay : -kClockSkewSeconds;
    Checked(X509_time_adj_ex(X509_getm_notBefore(x), 0, from, &now), "validity");
    Checked(X509_time_adj_ex(X509_getm_notAfter(x), 0, request.validSeconds, &now), "validity");
    X509_NAME* name = X509_get_subject_name(x);
    CheckedCall(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(request.commonName.c_str()),
                                           -1, -1, 0),
                "name");
    X509* issuer = request.issuer != nullptr ? request.issuer : x;
    CheckedCall(X509_set_issuer_name(x, X509_get_subject_name(issuer)), "issuer");
    CheckedCall(X509_set_pubkey(x, request.key), "public key");
    for (const auto& extension : request.extensions) {
        AddExtension(x, issuer, extension.first, extension.second);
    }
    EVP_PKEY* signer = request.issuerKey != nullptr ? request.issuerKey : request.key;
    CheckedCall(X509_sign(x, signer, EVP_sha256()), "cannot sign");
    return certificate;
}

// DNS names and IPv4 or IPv6 addresses; nothing that could smuggle another entry into the list.
std::string SubjectAlternativeNames(const std::vector<std::string>& names) {
    std::string list = "DNS:localhost,IP:127.0.0.1";
    for (const std::string& name : names) {
        if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                   "0123456789.-:") != std::string::npos) {
            throw std::invalid_argument("not a server name or address: \"" + name + "\"");
        }
        const bool address =
            name.find_first_not_of("0123456789.") == std::string::npos || name.find(':') != std::string::npos;
        list += (address ? ",IP:" : ",DNS:") + name;
    }
    return list;
}

bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace

CCertificateAuthority::CCertificateAuthority(const std::string& folder) : m_folder(folder) {}

std::string CCertificateAuthority::CaCertificateFile() const {
    return m_folder + "/" + kCaCertificate;
}

std::string CCertificateAuthority::ServerCertificateFile() const {
    return m_folder + "/" + kServerCertificate;
}

std::string CCertificateAuthority::ServerKeyFile() const {
    return m_folder + "/" + kServerKey;
}

std::string CCertificateAuthority::CaKeyFile() const {
    return m_folder + "/" + kCaKey;
}

std::string CCertificateAuthority::IssuedFolder() const {
    return m_folder + "/" + kIssued;
}

std::string CCertificateAuthority::RecordFile(const std::string& serial) const {
    return IssuedFolder() + "/" + serial;
}

void CCertificateAuthority::CheckFolder() const {
    CTrustedPath::CheckFolder(m_folder);
    CTrustedPath::CheckFolder(IssuedFolder());
}

void CCertificateAuthority::CheckComputerName(const std::string& computer) {
    const bool sized = !computer.empty() && computer.size() <= kMaxComputerName;
    const bool allowed = computer.find_first_not_of(
                             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                             "0123456789.-_") == std::string::npos;
    if (!sized || !allowed || !std::isalnum(static_cast<unsigned char>(computer[0]))) {
        throw std::invalid_argument("not a computer name: \"" + computer + "\" (1 to " +
                                    std::to_string(kMaxComputerName) +
                                    " letters, digits, '.', '-' or '_', starting with a letter or digit)");
    }
}

void CCertificateAuthority::Init(const std::vector<std::string>& serverNames) {
    const std::string alternatives = SubjectAlternativeNames(serverNames);
    CTrustedPath::EnsureFolder(m_folder);
    if (Exists(CaKeyFile()) || Exists(CaCertificateFile())) {
        throw std::runtime_error(m_folder + ": holds a CA already");
    }
    CTrustedPath::EnsureFolder(IssuedFolder());
    Key caKey = NewKey();
    Request ca;
    ca.commonName = kCaName;
    ca.key = caKey.get();
    ca.validSeconds = kCaDays * kSecondsPerDay;
    ca.extensions = {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                     {NID_key_usage, "critical,keyCertSign,cRLSign"},
                     {NID_subject_key_identifier, "hash"}};
    std::string serial;
    Certificate caCertificate = Sign(ca, serial);
    Key serverKey = NewKey();
    Request server;
    server.commonName = kServerName;
    server.key = serverKey.get();
    server.issuer = caCertificate.get();
    server.issuerKey = caKey.get();
    server.validSeconds = kServerDays * kSecondsPerDay;
    server.extensions = {{NID_basic_constraints, "critical,CA:FALSE"},
                         {NID_key_usage, "critical,digitalSignature"},
                         {NID_ext_key_usage, "serverAuth"},
                         {NID_subject_alt_name, alternatives},
                         {NID_authority_key_identifier, "keyid:always"}};
    Certificate serverCertificate = Sign(server, serial);
    std::string caKeyPem = KeyPem(caKey.get());
    std::string serverKeyPem = KeyPem(serverKey.get());
    WriteNewFile(CaKeyFile(), caKeyPem);
    WriteNewFile(ServerKeyFile(), serverKeyPem);
    OPENSSL_cleanse(&caKeyPem[0], caKeyPem.size());
    OPENSSL_cleanse(&serverKeyPem[0], serverKeyPem.size());
    WriteNewFile(ServerCertificateFile(), CertificatePem(serverCertificate.get()));
    // Last: a CA certificate marks a complete CA.
    WriteNewFile(CaCertificateFile(), CertificatePem(caCertificate.get()));
}

CCertificateAuthority::Issued CCertificateAuthority::Enrol(const std::string& computer,
                                                           const std::string& bundle, int validDays) {
    CheckComputerName(computer);
    CheckFolder();
    Key caKey = ReadKey(CaKeyFile());
    Certificate caCertificate = ReadCertificate(CaCertificateFile());
    Key key = NewKey();
    Request client;
    client.commonName = computer;
    client.key = key.get();
    client.issuer = caCertificate.get();
    client.issuerKey = caKey.get();
    client.validSeconds = static_cast<long>(validDays) * kSecondsPerDay;
    client.extensions = {{NID_basic_constraints, "critical,CA:FALSE"},
                         {NID_key_usage, "critical,digitalSignature"},
                         {NID_ext_key_usage, "clientAuth"},
                         {NID_authority_key_identifier, "keyid:always"}};
    Issued issued;
    issued.computer = computer;
    Certificate certificate = Sign(client, issued.serial);
    const std::time_t now = std::time(nullptr);
    issued.notAfter = IsoTime(now + client.validSeconds);
    std::string content =
        KeyPem(key.get()) + CertificatePem(certificate.get()) + CertificatePem(caCertificate.get());
    // Recorded before the bundle exists: a certificate never works without the CA knowing of it.
    WriteRecord(issued);
    try {
        WriteNewFile(bundle, content);
    } catch (...) {
        OPENSSL_cleanse(&content[0], content.size());
        ::unlink(RecordFile(issued.serial).c_str());
        throw;
    }
    OPENSSL_cleanse(&content[0], content.size());
    return issued;
}

void CCertificateAuthority::WriteRecord(const Issued& issued) const {
    ReplaceFile(RecordFile(issued.serial), issued.computer + "\n" + issued.notAfter + "\n" +
                                               (issued.revoked ? "revoked" : "current") + "\n");
}

CCertificateAuthority::Issued CCertificateAuthority::ReadRecord(const std::string& serial) const {
    std::istringstream lines(CTrustedPath::ReadTrustedFile(RecordFile(serial), kMaxFileBytes));
    Issued issued;
    issued.serial = serial;
    std::string state;
    if (!std::getline(lines, issued.computer) || !std::getline(lines, issued.notAfter) ||
        !std::getline(lines, state) || (state != "revoked" && state != "current")) {
        throw std::runtime_error(RecordFile(serial) + ": not a record of an issued certificate");
    }
    issued.revoked = state == "revoked";
    return issued;
}

std::vector<CCertificateAuthority::Issued> CCertificateAuthority::List() const {
    CheckFolder();
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(IssuedFolder().c_str()), &::closedir);
    if (!folder) {
        throw std::runtime_error(IssuedFolder() + ": cannot list: " + std::strerror(errno));
    }
    std::vector<Issued> issued;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        // Serials are hex; anything else (., .., files being built aside) is no record.
        if (!name.empty() && name.find_first_not_of("0123456789ABCDEF") == std::string::npos) {
            issued.push_back(ReadRecord(name));
        }
    }
    return issued;
}

void CCertificateAuthority::Revoke(const std::string& computer) {
    CheckComputerName(computer);
    bool found = false;
    for (Issued issued : List()) {
        if (issued.computer == computer) {
            found = true;
            if (!issued.revoked) {
                issued.revoked = true;
                WriteRecord(issued);
            }
        }
    }
    if (!found) {
        throw std::runtime_error("no certificate was issued to " + computer);
    }
}

bool CCertificateAuthority::IsCurrent(const std::string& serial) const {
    if (serial.empty() || serial.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
        return false;
    }
    CheckFolder();
    if (!Exists(RecordFile(serial))) {
        return false;
    }
    return !ReadRecord(serial).revoked;
}

}  // namespace Server
}  // namespace Zun
