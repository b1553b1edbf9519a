#pragma once

#include <string>

namespace Zun {
namespace Testing {

// A fresh object root for one test, removed afterwards; QUIL_OBJECT_ROOT points at it meanwhile, so
// tests run in parallel and never touch a real one.
class CTemporaryObjectRoot {
public:
    CTemporaryObjectRoot();
    ~CTemporaryObjectRoot();
    CTemporaryObjectRoot(const CTemporaryObjectRoot&) = delete;
    CTemporaryObjectRoot& operator=(const CTemporaryObjectRoot&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace Testing
}  // namespace Zun
