#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/CTrustedPath.h"
#include "server/service/CItemSealer.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

namespace {

class CDescriptor {
public:
    explicit CDescriptor(int fd) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

std::runtime_error KeyFailure(const std::string& path, const std::string& what) {
    return std::runtime_error("Key file " + path + ": " + what);
}

void WriteNewKey(const std::string& path) {
    std::string key(CItemSealer::kKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&key[0]), static_cast<int>(key.size())) != 1) {
        throw KeyFailure(path, "no random bytes for a key");
    }
    CDescriptor file(open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    const bool written = file.Get() >= 0 &&
                         write(file.Get(), key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
                         fsync(file.Get()) == 0;
    const int error = errno;
    Tools::Agent::CSecretWiper::Wipe(key);
    if (!written) {
        throw KeyFailure(path, std::string("cannot write the key: ") + std::strerror(error));
    }
}

}  // namespace

// A key that group or others could read may be known already: refused, not made private again.
std::string CItemSealer::LoadOrCreateKey(const std::string& path) {
    struct stat existing;
    if (lstat(path.c_str(), &existing) != 0 && Platform::CTrustedPath::EnsurePrivateFile(path)) {
        WriteNewKey(path);
    }
    CDescriptor file(Platform::CTrustedPath::OpenTrustedFile(path));
    struct stat info;
    if (fstat(file.Get(), &info) != 0 || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw KeyFailure(path, "readable by group or others");
    }
    std::string key(kKeySize + 1, '\0');
    const ssize_t length = read(file.Get(), &key[0], key.size());
    if (length != static_cast<ssize_t>(kKeySize)) {
        Tools::Agent::CSecretWiper::Wipe(key);
        throw KeyFailure(path, "does not hold a key of " + std::to_string(kKeySize) + " bytes");
    }
    key.resize(kKeySize);
    return key;
}

}  // namespace Server
}  // namespace Zun
