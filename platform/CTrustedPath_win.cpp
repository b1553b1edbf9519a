#include "platform/CTrustedPath.h"

#include <Poco/File.h>
#include <Poco/UUIDGenerator.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

// On Windows, who may read or replace a file is decided by the access control lists the installer
// gives the folder (ProgramData inherits SYSTEM and Administrators only); these checks keep to what
// the file system can tell without them: kinds, links and exclusive creation.
namespace Zun {
namespace Platform {

namespace {

std::runtime_error Refusal(const std::string& path, const std::string& reason) {
    return std::runtime_error(path + ": " + reason);
}

int OpenExclusive(const std::string& path) {
    return _open(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

}  // namespace

void CTrustedPath::CheckFolder(const std::string& path) {
    Poco::File folder(path);
    if (!folder.exists()) {
        throw Refusal(path, "no such folder");
    }
    if (folder.isLink()) {
        throw Refusal(path, "is a symbolic link");
    }
    if (!folder.isDirectory()) {
        throw Refusal(path, "is not a folder");
    }
}

void CTrustedPath::CheckSharedFolder(const std::string& path) {
    CheckFolder(path);
}

// Windows keeps who may change a folder in its ACL, which the installer sets; nothing to check here.
void CTrustedPath::CheckPlacement(const std::string&) {}

void CTrustedPath::EnsureFolder(const std::string& path) {
    Poco::File(path).createDirectories();
    CheckFolder(path);
}

bool CTrustedPath::EnsurePrivateFile(const std::string& path) {
    const int fd = OpenExclusive(path);
    if (fd >= 0) {
        _close(fd);
        return true;
    }
    if (errno != EEXIST) {
        throw Refusal(path, std::string("cannot create: ") + std::strerror(errno));
    }
    Poco::File file(path);
    if (file.isLink() || !file.isFile()) {
        throw Refusal(path, "is not a regular file");
    }
    return false;
}

int CTrustedPath::OpenTrustedFile(const std::string& path) {
    Poco::File file(path);
    if (file.exists() && (file.isLink() || !file.isFile())) {
        throw Refusal(path, "is not a regular file");
    }
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        throw Refusal(path, std::string("cannot open: ") + std::strerror(errno));
    }
    return fd;
}

std::string CTrustedPath::ReadTrustedFile(const std::string& path, std::size_t maxBytes) {
    const int fd = OpenTrustedFile(path);
    std::string content;
    char chunk[4096];
    int got;
    while ((got = _read(fd, chunk, sizeof chunk)) > 0) {
        content.append(chunk, static_cast<std::size_t>(got));
        if (content.size() > maxBytes) {
            _close(fd);
            throw Refusal(path, "holds more than " + std::to_string(maxBytes) + " bytes");
        }
    }
    _close(fd);
    if (got < 0) {
        throw Refusal(path, std::string("cannot read: ") + std::strerror(errno));
    }
    return content;
}

int CTrustedPath::CreateTemporary(const std::string& prefix, std::string& path) {
    path = prefix + Poco::UUIDGenerator::defaultGenerator().createRandom().toString().substr(0, 8);
    const int fd = OpenExclusive(path);
    if (fd < 0) {
        throw Refusal(path, std::string("cannot create: ") + std::strerror(errno));
    }
    return fd;
}

}  // namespace Platform
}  // namespace Zun
