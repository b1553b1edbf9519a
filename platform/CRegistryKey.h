#pragma once

#include <string>

namespace Zun {
namespace Platform {

// One registry key, named as Windows names it ("HKEY_LOCAL_MACHINE\Software\..."). On Windows it is
// the real registry; on Linux the registry substitute: a key is a folder under
// <object root>/registry/<hive>/<path> and a value is a file in it holding the value's text. On
// Linux no symlink inside the object root is followed, and folders and values that another user
// than us or root owns, or that group or others may write, are not read.
class CRegistryKey {
public:
    // readOnly keys never create anything; writable keys create the key on the first write.
    CRegistryKey(const std::string& keyName, bool readOnly);

    bool Exists() const;
    bool HasValue(const std::string& name) const;
    // Empty when the value is missing.
    std::string GetString(const std::string& name) const;
    // Return false when the key is read-only or the value cannot be written or removed.
    bool SetString(const std::string& name, const std::string& value);
    bool DeleteValue(const std::string& name);
    // Why the last SetString or DeleteValue failed, naming the path (Linux only).
    const std::string& Error() const { return m_error; }

    // The folder of the key in the substitute (Linux only; empty elsewhere).
    std::string GetPath() const { return m_path; }

private:
    std::string m_keyName;
    bool m_readOnly;
    std::string m_path;
    std::string m_error;
};

}  // namespace Platform
}  // namespace Zun
