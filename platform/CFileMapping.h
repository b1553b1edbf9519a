#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/CKernelObject.h"

namespace Zun {
namespace Platform {

// A named file mapping opened for reading: a file of the object namespace, mapped whole.
class CFileMapping : public CKernelObject {
public:
    ~CFileMapping() override;

    // Null when missing, empty, not a plain file or owned by an untrusted user.
    static std::shared_ptr<CFileMapping> Open(const std::string& path);
    // A read-only view of the whole file, registered for UnmapViewOfFile; null on failure.
    void* MapView() const;

private:
    CFileMapping(int fd, std::size_t size) : m_fd(fd), m_size(size) {}

    int m_fd;
    std::size_t m_size;
};

}  // namespace Platform
}  // namespace Zun
