#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace Testing {

namespace {

// Each test's registry keys live under a name of its own (see CRegistryKey_win.cpp), so no test
// touches the computer's product key or another test's.
const char* const kTestHiveVariable = "QUIL_TEST_REGISTRY";
const char* const kTestHives = "Software\\quil-tests\\";

std::string Previous(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : "";
}

}  // namespace

CTemporaryObjectRoot::CTemporaryObjectRoot() {
    const std::string name = "quil-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64()) + "-" +
                             std::to_string(reinterpret_cast<std::uintptr_t>(this));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    if (!std::filesystem::create_directory(folder)) {
        throw std::runtime_error("cannot create " + folder.string());
    }
    m_path = folder.string();
    m_previousHive = Previous(kTestHiveVariable);
    m_hive = name;
    _putenv_s(kTestHiveVariable, m_hive.c_str());
}

CTemporaryObjectRoot::~CTemporaryObjectRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kTestHives) + m_hive).c_str());
    _putenv_s(kTestHiveVariable, m_previousHive.c_str());
}

}  // namespace Testing
}  // namespace Zun
