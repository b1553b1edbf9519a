#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>

#include <cstdlib>

#include "platform/CRegistryKey.h"

namespace Zun {
namespace Platform {

namespace {

const char* const kTestHiveVariable = "QUIL_TEST_REGISTRY";
const std::string kMachineHive = "HKEY_LOCAL_MACHINE\\";
const std::string kTestHives = "HKEY_CURRENT_USER\\Software\\quil-tests\\";

// Tests keep their keys apart from the computer's and from each other: with QUIL_TEST_REGISTRY set
// (a test's own name; the agent and the product never set it), a machine key is opened under the
// current user's HKEY_CURRENT_USER\Software\quil-tests\<name> instead.
std::string Redirected(const std::string& keyName) {
    const char* hive = std::getenv(kTestHiveVariable);
    if (hive == nullptr || *hive == '\0' || keyName.compare(0, kMachineHive.size(), kMachineHive) != 0) {
        return keyName;
    }
    return kTestHives + hive + "\\" + keyName.substr(kMachineHive.size());
}

}  // namespace

CRegistryKey::CRegistryKey(const std::string& keyName, bool readOnly)
    : m_keyName(Redirected(keyName)), m_readOnly(readOnly) {}

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
