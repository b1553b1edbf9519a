#include <Poco/Crypto/Cipher.h>
#include <Poco/Crypto/CipherFactory.h>
#include <Poco/Crypto/CipherKey.h>
#include <Poco/Crypto/OpenSSLInitializer.h>
#include <Poco/RandomStream.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/CTrustedPath.h"
#include "tools/agent/store/CPayloadCipher.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const std::string kMarker = "QSG1";  // AES-256-GCM: marker, nonce, cipher text, tag
const char* const kAlgorithm = "aes-256-gcm";
const size_t kKeySize = 32;
const size_t kNonceSize = 12;
const size_t kTagSize = 16;

std::runtime_error KeyFailure(const std::string& path, const std::string& what) {
    return std::runtime_error(path + ": " + what);
}

class CDescriptor {
public:
    explicit CDescriptor(int fd) : m_fd(fd) {}
    ~CDescriptor() { close(m_fd); }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

std::vector<unsigned char> RandomBytes(size_t size) {
    std::vector<unsigned char> bytes(size);
    Poco::RandomInputStream().read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    return bytes;
}

std::vector<unsigned char> ReadKey(const std::string& path) {
    CDescriptor file(Platform::CTrustedPath::OpenTrustedFile(path));
    struct stat info;
    if (fstat(file.Get(), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw KeyFailure(path, "readable by group or others");
    }
    std::vector<unsigned char> key(kKeySize + 1);
    const ssize_t length = read(file.Get(), key.data(), key.size());
    key.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return key;
}

void WriteKey(const std::string& path, const std::vector<unsigned char>& key) {
    CDescriptor file(open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (file.Get() < 0 || write(file.Get(), key.data(), key.size()) != static_cast<ssize_t>(key.size()) ||
        fsync(file.Get()) != 0) {
        throw KeyFailure(path, std::string("cannot write the key: ") + std::strerror(errno));
    }
}

std::string Transform(Poco::Crypto::CryptoTransform& transform, const std::string& input) {
    std::string output(input.size() + 2 * transform.blockSize(), '\0');
    unsigned char* out = reinterpret_cast<unsigned char*>(&output[0]);
    std::streamsize length = transform.transform(reinterpret_cast<const unsigned char*>(input.data()),
                                                 static_cast<std::streamsize>(input.size()), out,
                                                 static_cast<std::streamsize>(output.size()));
    length += transform.finalize(out + length, static_cast<std::streamsize>(output.size()) - length);
    output.resize(static_cast<size_t>(length));
    return output;
}

// Poco's crypto objects set OpenSSL up (reading its configuration file) when the first of them is made
// and tear it down when the last goes: without one kept for the process's life, every seal and every
// opening paid for both, more than the cipher itself.
void KeepOpenSSLReady() {
    static const Poco::Crypto::OpenSSLInitializer ready;
}

Poco::Crypto::Cipher::Ptr NewCipher(const std::vector<unsigned char>& key,
                                    const std::vector<unsigned char>& nonce) {
    KeepOpenSSLReady();
    return Poco::Crypto::Cipher::Ptr(Poco::Crypto::CipherFactory::defaultFactory().createCipher(
        Poco::Crypto::CipherKey(kAlgorithm, key, nonce)));
}

}  // namespace

CPayloadCipher::CPayloadCipher(const std::string& keyFile, bool create)
    : m_keyFile(keyFile), m_create(create) {
    if (!create) {
        return;
    }
    // A missing file is left missing until NewKey, so that an agent that refuses to start says
    // the same the next time.
    struct stat info;
    if (lstat(m_keyFile.c_str(), &info) != 0 && errno == ENOENT) {
        m_state = Key::Missing;
        return;
    }
    Platform::CTrustedPath::EnsurePrivateFile(m_keyFile);
    std::vector<unsigned char> key = ReadKey(m_keyFile);
    if (key.size() == kKeySize) {
        m_key.swap(key);
    } else {
        m_state = key.empty() ? Key::Empty : Key::Malformed;
        CSecretWiper::Wipe(key.data(), key.size());
    }
}

CPayloadCipher::~CPayloadCipher() {
    if (!m_key.empty()) {
        CSecretWiper::Wipe(m_key.data(), m_key.size());
    }
}

void CPayloadCipher::NewKey() {
    Platform::CTrustedPath::EnsurePrivateFile(m_keyFile);
    std::vector<unsigned char> key = RandomBytes(kKeySize);
    WriteKey(m_keyFile, key);
    if (!m_key.empty()) {
        CSecretWiper::Wipe(m_key.data(), m_key.size());
    }
    m_key.swap(key);
    m_state = Key::Present;
}

std::string CPayloadCipher::KeyName() const {
    return "key file " + m_keyFile;
}

// The agent has its key from the start (or none, and seals nothing until NewKey); readers read it
// when they first need it.
void CPayloadCipher::LoadKey() {
    if (!m_key.empty()) {
        return;
    }
    if (m_create) {
        throw KeyFailure(m_keyFile, "holds no payload key");
    }
    std::vector<unsigned char> key = ReadKey(m_keyFile);
    if (key.size() != kKeySize) {
        throw KeyFailure(m_keyFile, "is not a payload key (" + std::to_string(key.size()) + " bytes)");
    }
    m_key.swap(key);
}

std::string CPayloadCipher::Seal(const std::string& plain) {
    LoadKey();
    const std::vector<unsigned char> nonce = RandomBytes(kNonceSize);
    Poco::Crypto::CryptoTransform::Ptr encryptor = NewCipher(m_key, nonce)->createEncryptor();
    const std::string body = Transform(*encryptor, plain);
    return kMarker + std::string(nonce.begin(), nonce.end()) + body + encryptor->getTag(kTagSize);
}

std::string CPayloadCipher::Open(const std::string& sealed) {
    if (!IsSealed(sealed) || sealed.size() < kMarker.size() + kNonceSize + kTagSize) {
        throw std::runtime_error("not a sealed payload");
    }
    LoadKey();
    const std::vector<unsigned char> nonce(sealed.begin() + kMarker.size(),
                                           sealed.begin() + kMarker.size() + kNonceSize);
    const size_t bodyStart = kMarker.size() + kNonceSize;
    const size_t bodySize = sealed.size() - bodyStart - kTagSize;
    try {
        Poco::Crypto::CryptoTransform::Ptr decryptor = NewCipher(m_key, nonce)->createDecryptor();
        decryptor->setTag(sealed.substr(bodyStart + bodySize));
        return Transform(*decryptor, sealed.substr(bodyStart, bodySize));
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("payload altered or sealed under another key than " + m_keyFile);
    }
}

bool CPayloadCipher::IsSealed(const std::string& payload) {
    return payload.compare(0, kMarker.size(), kMarker) == 0;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
