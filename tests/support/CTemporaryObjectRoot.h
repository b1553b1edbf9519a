#pragma once

#include <string>

namespace Zun {
namespace Testing {

// A fresh object root for one test, removed afterwards; QUIL_OBJECT_ROOT points at it meanwhile, so
// tests run in parallel and never touch a real one. On Windows, where the registry is the machine's,
// the test's registry keys are private to it instead, and removed with it.
class CTemporaryObjectRoot {
public:
    CTemporaryObjectRoot();
    ~CTemporaryObjectRoot();
    CTemporaryObjectRoot(const CTemporaryObjectRoot&) = delete;
    CTemporaryObjectRoot& operator=(const CTemporaryObjectRoot&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    // Windows: the name of the test's registry keys, and what the variable held before.
    std::string m_hive;
    std::string m_previousHive;
};

}  // namespace Testing
}  // namespace Zun
