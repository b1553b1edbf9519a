#include "platform/CAdvapi32Substitute.h"

#include <boost/locale/encoding_utf.hpp>
#include <cstring>
#include <string>

#include "platform/CHandleTable.h"
#include "platform/CRegistryKey.h"

namespace Zun {
namespace Platform {

namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;

class COpenKey : public CKernelObject {
public:
    explicit COpenKey(const std::string& name) : m_name(name), m_key(name, true) {}
    const std::string& Name() const { return m_name; }
    const CRegistryKey& Key() const { return m_key; }

private:
    std::string m_name;
    CRegistryKey m_key;
};

std::u16string Wide(const WCHAR* text) {
    return text == nullptr ? std::u16string() : std::u16string(text);
}

std::string Narrow(const std::u16string& text) {
    return boost::locale::conv::utf_to_utf<char>(text);
}

// The full name of the key that key\subKey names; empty when key is unknown.
std::string KeyName(HKEY key, const WCHAR* subKey) {
    std::string base;
    if (key == HKEY_LOCAL_MACHINE_KEY()) {
        base = "HKEY_LOCAL_MACHINE";
    } else if (std::shared_ptr<COpenKey> open = CHandleTable::FindAs<COpenKey>(key)) {
        base = open->Name();
    } else {
        return std::string();
    }
    const std::string sub = Narrow(Wide(subKey));
    return sub.empty() ? base : base + "\\" + sub;
}

}  // namespace

long CAdvapi32Substitute::RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD, DWORD, HKEY* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    const std::string name = KeyName(key, subKey);
    if (name.empty()) {
        return kErrorInvalidHandle;
    }
    std::shared_ptr<COpenKey> open = std::make_shared<COpenKey>(name);
    if (!open->Key().Exists()) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = CHandleTable::Insert(open);
    return ERROR_SUCCESS;
}

long CAdvapi32Substitute::RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD*, DWORD* type,
                                           std::uint8_t* data, DWORD* dataSize) {
    std::shared_ptr<COpenKey> open = CHandleTable::FindAs<COpenKey>(key);
    if (open == nullptr) {
        return kErrorInvalidHandle;
    }
    const std::string name = Narrow(Wide(valueName));
    if (!open->Key().HasValue(name)) {
        return ERROR_FILE_NOT_FOUND;
    }
    // Values of the substitute are text; they are handed out as REG_SZ with the terminating null.
    const std::u16string value =
        boost::locale::conv::utf_to_utf<char16_t>(open->Key().GetString(name)) + u'\0';
    const DWORD needed = static_cast<DWORD>(value.size() * sizeof(char16_t));
    if (type != nullptr) {
        *type = REG_SZ;
    }
    if (dataSize == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : kErrorInvalidParameter;
    }
    const DWORD offered = *dataSize;
    *dataSize = needed;
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (offered < needed) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data(), needed);
    return ERROR_SUCCESS;
}

long CAdvapi32Substitute::RegCloseKey(HKEY key) {
    return CHandleTable::FindAs<COpenKey>(key) != nullptr && CHandleTable::Close(key) ? ERROR_SUCCESS
                                                                                      : kErrorInvalidHandle;
}

const SubstituteExport* CAdvapi32Substitute::Exports(std::size_t& count) {
    static const SubstituteExport exports[] = {
        {"RegOpenKeyExW", ExportOf<RegOpenKeyExWFn>(&RegOpenKeyExW)},
        {"RegQueryValueExW", ExportOf<RegQueryValueExWFn>(&RegQueryValueExW)},
        {"RegCloseKey", ExportOf<RegCloseKeyFn>(&RegCloseKey)},
    };
    count = sizeof(exports) / sizeof(exports[0]);
    return exports;
}

}  // namespace Platform
}  // namespace Zun
