#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>

#include "platform/CRegistryKey.h"

namespace Zun {
namespace Platform {

CRegistryKey::CRegistryKey(const std::string& keyName, bool readOnly)
    : m_keyName(keyName), m_readOnly(readOnly) {}

bool CRegistryKey::Exists() const {
    return Poco::Util::WinRegistryKey(m_keyName, true).exists();
}

bool CRegistryKey::HasValue(const std::string& name) const {
    Poco::Util::WinRegistryKey key(m_keyName, true);
    return key.exists() && key.exists(name);
}

std::string CRegistryKey::GetString(const std::string& name) const {
    if (!HasValue(name)) {
        return std::string();
    }
    return Poco::Util::WinRegistryKey(m_keyName, true).getString(name);
}

bool CRegistryKey::SetString(const std::string& name, const std::string& value) {
    if (m_readOnly) {
        return false;
    }
    try {
        Poco::Util::WinRegistryKey(m_keyName, false).setString(name, value);
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

bool CRegistryKey::DeleteValue(const std::string& name) {
    if (m_readOnly || !HasValue(name)) {
        return false;
    }
    try {
        Poco::Util::WinRegistryKey(m_keyName, false).deleteValue(name);
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace Platform
}  // namespace Zun
