#pragma once

#include <cstddef>
#include <string>

namespace Zun {
namespace Platform {

// Folders and files that hold what others must not read or replace (the agent's database and log,
// the object root, the product's state) are checked the way OpenSSH checks its own: the folder is
// ours and writable by us alone, every folder above it belongs to us or root and cannot be written
// by others (a sticky folder such as /tmp excepted), and no symlink is followed inside it. Every
// refusal is a std::runtime_error naming the path and the reason.
class CTrustedPath {
public:
    // Refuses a folder that is missing, a symlink, not ours, or writable by group or others.
    static void CheckFolder(const std::string& path);
    // As CheckFolder, but root's folder is trusted too: an ordinary user's client opens what a
    // server running as root created (the object root under /run, for one).
    static void CheckSharedFolder(const std::string& path);
    // Refuses a path whose folders others could change: each folder above it, its own included, must
    // be ours or root's and not writable by group or others unless it is sticky (/tmp). For what is
    // placed in a folder that need not be ours, such as a socket.
    static void CheckPlacement(const std::string& path);
    // Creates the folder and its missing parents owner-only (0700), then checks it.
    static void EnsureFolder(const std::string& path);
    // Creates the file owner-only (0600) and exclusively when it is missing. An existing one must be
    // a regular file of ours with a single link; group and others lose any access it gave them.
    // Returns true when the file was created.
    static bool EnsurePrivateFile(const std::string& path);
    // Opens an existing file for reading without following a symlink; it must be a regular file of
    // ours or root's that group and others cannot write. Returns the descriptor; the caller closes it.
    static int OpenTrustedFile(const std::string& path);
    // The whole content of such a file; refused when it holds more than maxBytes.
    static std::string ReadTrustedFile(const std::string& path, std::size_t maxBytes);
    // Creates a file with an unpredictable name "<prefix>XXXXXX" beside prefix, owner-only and
    // exclusively. Returns the descriptor and sets path; the caller closes it.
    static int CreateTemporary(const std::string& prefix, std::string& path);
};

}  // namespace Platform
}  // namespace Zun
