#include "tests/support/CTemporaryObjectRoot.h"

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <stdexcept>

namespace Zun {
namespace Testing {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

}  // namespace

CTemporaryObjectRoot::CTemporaryObjectRoot() {
    char pattern[] = "/tmp/quil-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
    setenv("QUIL_OBJECT_ROOT", m_path.c_str(), 1);
}

CTemporaryObjectRoot::~CTemporaryObjectRoot() {
    nftw(m_path.c_str(), &RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    unsetenv("QUIL_OBJECT_ROOT");
}

}  // namespace Testing
}  // namespace Zun
