#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/CObjectNamespace.h"
#include "platform/CObjectRoot.h"
#include "platform/CRegistryKey.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

namespace {

const char* const kRegistryFolder = "registry";
// Values are short texts; anything bigger is not one of ours.
constexpr off_t kMaxValueSize = 1 << 20;
const mode_t kGroupOrOthersWrite = S_IWGRP | S_IWOTH;
const int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor() { Reset(-1); }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    void Reset(int fd) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = fd;
    }
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Backslashes separate key names; a name part that would leave the substitute's folder is kept
// out by refusing "." and ".." parts and embedded slashes. Empty when the name is refused.
std::vector<std::string> KeyParts(const std::string& keyName) {
    std::vector<std::string> parts{kRegistryFolder};
    std::istringstream names(keyName);
    std::string part;
    while (std::getline(names, part, '\\')) {
        if (part.empty()) {
            continue;
        }
        if (part == "." || part == ".." || part.find('/') != std::string::npos) {
            return {};
        }
        parts.push_back(part);
    }
    return parts;
}

std::string KeyFolder(const std::vector<std::string>& parts) {
    if (parts.empty()) {
        return std::string();
    }
    std::string path = CObjectRoot::Path();
    for (const std::string& part : parts) {
        path += "/" + part;
    }
    return path;
}

bool IsValueName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Only we and root may have made it, and only its owner may change it.
std::string Distrust(const struct stat& info) {
    if (!CObjectNamespace::IsTrustedOwner(info.st_uid)) {
        return "owned by uid " + std::to_string(info.st_uid);
    }
    return (info.st_mode & kGroupOrOthersWrite) != 0 ? "writable by group or others" : std::string();
}

std::runtime_error Refusal(const std::string& path, const std::string& reason) {
    return std::runtime_error(path + ": " + reason);
}

std::string OpenFailure() {
    return errno == ELOOP || errno == ENOTDIR ? "is a symbolic link or not a folder" : std::strerror(errno);
}

// Opens the key's folder from the object root down, one part at a time and never through a
// symlink, so that nothing inside the root can send a read or a write elsewhere. create makes the
// missing parts owner-only. Throws naming the first part that is missing or not to be trusted.
int OpenKeyFolder(const std::vector<std::string>& parts, bool create) {
    std::string path = create ? CObjectRoot::Ensure() : CObjectRoot::Path();
    if (!create) {
        CObjectRoot::Check();
    }
    CDescriptor folder(open(path.c_str(), kOpenFolder));
    for (std::size_t i = 0; folder.Get() >= 0 && i < parts.size(); ++i) {
        if (create && mkdirat(folder.Get(), parts[i].c_str(), 0700) != 0 && errno != EEXIST) {
            throw Refusal(path + "/" + parts[i], std::string("cannot create: ") + std::strerror(errno));
        }
        folder.Reset(openat(folder.Get(), parts[i].c_str(), kOpenFolder));
        path += "/" + parts[i];
        struct stat info;
        if (folder.Get() >= 0 && fstat(folder.Get(), &info) == 0 && !Distrust(info).empty()) {
            throw Refusal(path, Distrust(info));
        }
    }
    if (folder.Get() < 0) {
        throw Refusal(path, OpenFailure());
    }
    return folder.Release();
}

// The key's folder, or -1 when a reader cannot trust it or it is missing.
int OpenKeyFolderToRead(const std::vector<std::string>& parts) {
    try {
        return parts.empty() ? -1 : OpenKeyFolder(parts, false);
    } catch (const std::runtime_error&) {
        return -1;
    }
}

// The value's file, a regular file of ours or root's that nobody else may write; -1 otherwise.
int OpenValue(int folder, const std::string& name) {
    CDescriptor value(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (value.Get() < 0 || fstat(value.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !Distrust(info).empty() || info.st_size > kMaxValueSize) {
        return -1;
    }
    return value.Release();
}

bool WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

CRegistryKey::CRegistryKey(const std::string& keyName, bool readOnly)
    : m_keyName(keyName), m_readOnly(readOnly), m_path(KeyFolder(KeyParts(keyName))) {}

bool CRegistryKey::Exists() const {
    CDescriptor folder(OpenKeyFolderToRead(KeyParts(m_keyName)));
    return folder.Get() >= 0;
}

bool CRegistryKey::HasValue(const std::string& name) const {
    if (!IsValueName(name)) {
        return false;
    }
    CDescriptor folder(OpenKeyFolderToRead(KeyParts(m_keyName)));
    CDescriptor value(folder.Get() < 0 ? -1 : OpenValue(folder.Get(), name));
    return value.Get() >= 0;
}

std::string CRegistryKey::GetString(const std::string& name) const {
    if (!IsValueName(name)) {
        return std::string();
    }
    CDescriptor folder(OpenKeyFolderToRead(KeyParts(m_keyName)));
    CDescriptor value(folder.Get() < 0 ? -1 : OpenValue(folder.Get(), name));
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (value.Get() >= 0 && (got = read(value.Get(), buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > kMaxValueSize) {
            return std::string();
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool CRegistryKey::SetString(const std::string& name, const std::string& value) {
    m_error.clear();
    if (m_readOnly || m_path.empty() || !IsValueName(name)) {
        m_error = m_path + ": read-only key or invalid value name " + name;
        return false;
    }
    try {
        CDescriptor folder(OpenKeyFolder(KeyParts(m_keyName), true));
        // Written aside under an unpredictable name made exclusively, then renamed within the
        // folder just checked, so a reader never sees half a value and nothing planted is used.
        std::string temporary;
        CDescriptor file(CTrustedPath::CreateTemporary(m_path + "/" + name + ".tmp", temporary));
        const std::string aside = BaseName(temporary);
        if (!WriteAll(file.Get(), value) ||
            renameat(folder.Get(), aside.c_str(), folder.Get(), name.c_str()) != 0) {
            m_error = m_path + "/" + name + ": cannot write: " + std::strerror(errno);
            unlinkat(folder.Get(), aside.c_str(), 0);
            return false;
        }
        return true;
    } catch (const std::runtime_error& e) {
        m_error = e.what();
        return false;
    }
}

bool CRegistryKey::DeleteValue(const std::string& name) {
    m_error.clear();
    if (m_readOnly || !IsValueName(name)) {
        return false;
    }
    CDescriptor folder(OpenKeyFolderToRead(KeyParts(m_keyName)));
    CDescriptor value(folder.Get() < 0 ? -1 : OpenValue(folder.Get(), name));
    if (value.Get() < 0 || unlinkat(folder.Get(), name.c_str(), 0) != 0) {
        m_error = m_path + "/" + name + ": cannot remove";
        return false;
    }
    return true;
}

}  // namespace Platform
}  // namespace Zun
