#include <windows.h>

#include <filesystem>
#include <stdexcept>

#include "platform/CRegistryKey.h"
#include "platform/ProductRegistry.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace Testing {

namespace {

// Windows has one registry for the machine: a test starts and ends with no product installed.
void ForgetTheProduct() {
    Platform::CRegistryKey key(Platform::kProductRegistryKey, false);
    for (const char* value : {Platform::kProductVersionValue, "InstallPath"}) {
        if (key.HasValue(value)) {
            key.DeleteValue(value);
        }
    }
}

}  // namespace

CTemporaryObjectRoot::CTemporaryObjectRoot() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("quil-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()) +
         "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    if (!std::filesystem::create_directory(folder)) {
        throw std::runtime_error("cannot create " + folder.string());
    }
    m_path = folder.string();
    ForgetTheProduct();
}

CTemporaryObjectRoot::~CTemporaryObjectRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    ForgetTheProduct();
}

}  // namespace Testing
}  // namespace Zun
