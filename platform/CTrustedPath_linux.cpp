#include "platform/CTrustedPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace Zun {
namespace Platform {

namespace {

const mode_t kGroupOrOthersWrite = S_IWGRP | S_IWOTH;
const mode_t kGroupOrOthersAny = S_IRWXG | S_IRWXO;
// As many symbolic links as the kernel follows in one path.
const int kMaxLinks = 40;

std::runtime_error Refusal(const std::string& path, const std::string& reason) {
    return std::runtime_error(path + ": " + reason);
}

std::runtime_error SystemFailure(const std::string& path, const std::string& what) {
    return Refusal(path, what + ": " + std::strerror(errno));
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path;
    }
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        throw SystemFailure(path, "cannot tell the working folder");
    }
    return std::string(buffer.data()) + "/" + path;
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::string OwnerText(uid_t owner) {
    return "owned by uid " + std::to_string(owner) + ", not by uid " + std::to_string(geteuid());
}

// A folder above the trusted one may belong to root, and may be writable by all when it is sticky.
void CheckAncestor(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        throw SystemFailure(path, "cannot inspect");
    }
    if (info.st_uid != 0 && info.st_uid != geteuid()) {
        throw Refusal(path, OwnerText(info.st_uid) + " or root");
    }
    if ((info.st_mode & kGroupOrOthersWrite) != 0 && (info.st_mode & S_ISVTX) == 0) {
        throw Refusal(path, "writable by group or others");
    }
}

// The names of a path, last first, for Resolve to take from the back.
void PushNames(std::vector<std::string>& pending, const std::string& path) {
    std::vector<std::string> names;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        names.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    pending.insert(pending.end(), names.rbegin(), names.rend());
}

std::string LinkTarget(const std::string& link) {
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = readlink(link.c_str(), target.data(), target.size() - 1);
    if (length < 0) {
        throw SystemFailure(link, "cannot read the symbolic link");
    }
    return std::string(target.data(), static_cast<std::size_t>(length));
}

// Follows the path one name at a time, as the kernel would, and returns the real path. A symbolic
// link on the way must be ours or root's: another user could point hers elsewhere once the check
// is done, and move what we open there into a folder of hers.
std::string Resolve(const std::string& absolute) {
    std::vector<std::string> pending;
    PushNames(pending, absolute);
    std::string real;  // empty for "/"
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            real = real.substr(0, real.find_last_of('/') == std::string::npos ? 0 : real.find_last_of('/'));
            continue;
        }
        const std::string next = real + "/" + name;
        struct stat info;
        if (lstat(next.c_str(), &info) != 0) {
            throw SystemFailure(next, "cannot inspect");
        }
        if (!S_ISLNK(info.st_mode)) {
            real = next;
            continue;
        }
        if (info.st_uid != 0 && info.st_uid != geteuid()) {
            throw Refusal(next, "is a symbolic link " + OwnerText(info.st_uid) + " or root");
        }
        if (++links > kMaxLinks) {
            throw Refusal(absolute, "too many symbolic links");
        }
        const std::string target = LinkTarget(next);
        if (!target.empty() && target[0] == '/') {
            real.clear();
        }
        PushNames(pending, target);
    }
    return real.empty() ? "/" : real;
}

// The folders above absolute, as they really are: each one's owner and mode, up to the root.
void CheckAncestors(const std::string& absolute) {
    for (std::string folder = Resolve(Parent(absolute));; folder = Parent(folder)) {
        CheckAncestor(folder);
        if (folder == "/") {
            return;
        }
    }
}

void CheckOwnFolder(const std::string& path, const struct stat& info, bool rootToo) {
    if (S_ISLNK(info.st_mode)) {
        throw Refusal(path, "is a symbolic link");
    }
    if (!S_ISDIR(info.st_mode)) {
        throw Refusal(path, "is not a folder");
    }
    if (info.st_uid != geteuid() && !(rootToo && info.st_uid == 0)) {
        throw Refusal(path, OwnerText(info.st_uid));
    }
    if ((info.st_mode & kGroupOrOthersWrite) != 0) {
        throw Refusal(path, "writable by group or others");
    }
}

void CheckFolderAndAncestors(const std::string& path, bool rootToo) {
    const std::string absolute = Absolute(path);
    struct stat info;
    if (lstat(absolute.c_str(), &info) != 0) {
        throw SystemFailure(path, "cannot inspect");
    }
    CheckOwnFolder(path, info, rootToo);
    CheckAncestors(absolute);
}

void CheckOwnFile(const std::string& path, const struct stat& info, bool rootToo) {
    if (!S_ISREG(info.st_mode)) {
        throw Refusal(path, "is not a regular file");
    }
    if (info.st_uid != geteuid() && !(rootToo && info.st_uid == 0)) {
        throw Refusal(path, OwnerText(info.st_uid));
    }
    if ((info.st_mode & kGroupOrOthersWrite) != 0) {
        throw Refusal(path, "writable by group or others");
    }
    // A second name may sit in a folder someone else controls.
    if (info.st_nlink != 1) {
        throw Refusal(path, "has " + std::to_string(info.st_nlink) + " hard links");
    }
}

int OpenNoFollow(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0 && errno == ELOOP) {
        throw Refusal(path, "is a symbolic link");
    }
    return fd;
}

class CDescriptor {
public:
    explicit CDescriptor(int fd) : m_fd(fd) {}
    ~CDescriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

void CTrustedPath::CheckFolder(const std::string& path) {
    CheckFolderAndAncestors(path, false);
}

void CTrustedPath::CheckSharedFolder(const std::string& path) {
    CheckFolderAndAncestors(path, true);
}

void CTrustedPath::CheckPlacement(const std::string& path) {
    CheckAncestors(Absolute(path));
}

void CTrustedPath::EnsureFolder(const std::string& path) {
    const std::string absolute = Absolute(path);
    for (std::size_t slash = absolute.find('/', 1);; slash = absolute.find('/', slash + 1)) {
        const std::string part = absolute.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw SystemFailure(part, "cannot create");
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    CheckFolder(path);
}

bool CTrustedPath::EnsurePrivateFile(const std::string& path) {
    CDescriptor created(OpenNoFollow(path, O_RDWR | O_CREAT | O_EXCL, 0600));
    if (created.Get() >= 0) {
        // The umask may have taken bits away, never added any; make the mode exact.
        if (fchmod(created.Get(), 0600) != 0) {
            throw SystemFailure(path, "cannot set its mode");
        }
        return true;
    }
    if (errno != EEXIST) {
        throw SystemFailure(path, "cannot create");
    }
    CDescriptor existing(OpenNoFollow(path, O_RDONLY | O_NONBLOCK));
    struct stat info;
    if (existing.Get() < 0 || fstat(existing.Get(), &info) != 0) {
        throw SystemFailure(path, "cannot open");
    }
    CheckOwnFile(path, info, false);
    if ((info.st_mode & kGroupOrOthersAny) != 0 && fchmod(existing.Get(), info.st_mode & S_IRWXU) != 0) {
        throw SystemFailure(path, "cannot make it owner-only");
    }
    return false;
}

int CTrustedPath::OpenTrustedFile(const std::string& path) {
    CDescriptor file(OpenNoFollow(path, O_RDONLY | O_NONBLOCK));
    struct stat info;
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0) {
        throw SystemFailure(path, "cannot open");
    }
    CheckOwnFile(path, info, true);
    // Reads block as usual from here on.
    fcntl(file.Get(), F_SETFL, fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return file.Release();
}

std::string CTrustedPath::ReadTrustedFile(const std::string& path, std::size_t maxBytes) {
    CDescriptor file(OpenTrustedFile(path));
    std::string content;
    char chunk[4096];
    ssize_t got;
    while ((got = read(file.Get(), chunk, sizeof chunk)) > 0) {
        content.append(chunk, static_cast<std::size_t>(got));
        if (content.size() > maxBytes) {
            throw Refusal(path, "holds more than " + std::to_string(maxBytes) + " bytes");
        }
    }
    if (got < 0) {
        throw SystemFailure(path, "cannot read");
    }
    return content;
}

int CTrustedPath::CreateTemporary(const std::string& prefix, std::string& path) {
    std::vector<char> name(prefix.begin(), prefix.end());
    for (char c : std::string("XXXXXX")) {
        name.push_back(c);
    }
    name.push_back('\0');
    // mkstemp creates exclusively (O_EXCL), owner-only, under a random name.
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        throw SystemFailure(prefix + "XXXXXX", "cannot create");
    }
    path = name.data();
    return fd;
}

}  // namespace Platform
}  // namespace Zun
