#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/CObjectRoot.h"
#include "platform/CRegistryKey.h"

namespace Zun {
namespace Platform {

namespace {

// Backslashes separate key names; a name part that would leave the substitute's folder is kept
// out by refusing "." and ".." parts and embedded slashes.
std::string KeyFolder(const std::string& keyName) {
    std::string path = CObjectRoot::Path() + "/registry";
    std::istringstream parts(keyName);
    std::string part;
    while (std::getline(parts, part, '\\')) {
        if (part.empty()) {
            continue;
        }
        if (part == "." || part == ".." || part.find('/') != std::string::npos) {
            return std::string();
        }
        path += "/" + part;
    }
    return path;
}

bool IsValueName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

CRegistryKey::CRegistryKey(const std::string& keyName, bool readOnly)
    : m_keyName(keyName), m_readOnly(readOnly), m_path(KeyFolder(keyName)) {}

bool CRegistryKey::Exists() const { return !m_path.empty() && IsDirectory(m_path); }

bool CRegistryKey::HasValue(const std::string& name) const {
    return Exists() && IsValueName(name) && IsFile(m_path + "/" + name);
}

std::string CRegistryKey::GetString(const std::string& name) const {
    if (!HasValue(name)) {
        return std::string();
    }
    std::ifstream in(m_path + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool CRegistryKey::SetString(const std::string& name, const std::string& value) {
    if (m_readOnly || m_path.empty() || !IsValueName(name) || !CObjectRoot::EnsureDirectory(m_path)) {
        return false;
    }
    // Written aside and renamed, so a reader never sees half a value.
    const std::string file = m_path + "/" + name;
    const std::string temporary = file + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << value;
        if (!out.flush()) {
            return false;
        }
    }
    return rename(temporary.c_str(), file.c_str()) == 0;
}

bool CRegistryKey::DeleteValue(const std::string& name) {
    if (m_readOnly || !HasValue(name)) {
        return false;
    }
    return unlink((m_path + "/" + name).c_str()) == 0;
}

}  // namespace Platform
}  // namespace Zun
