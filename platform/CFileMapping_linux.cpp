#include "platform/CFileMapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CObjectNamespace.h"
#include "platform/CViewGuard.h"
#include "platform/CViewRegistry.h"

namespace Zun {
namespace Platform {

CFileMapping::~CFileMapping() {
    close(m_fd);
}

std::shared_ptr<CFileMapping> CFileMapping::Open(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !CObjectNamespace::IsTrustedOwner(info.st_uid) ||
        info.st_size <= 0) {
        close(fd);
        return nullptr;
    }
    return std::shared_ptr<CFileMapping>(new CFileMapping(fd, static_cast<std::size_t>(info.st_size)));
}

void* CFileMapping::MapView() const {
    void* base = mmap(nullptr, m_size, PROT_READ, MAP_SHARED, m_fd, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    // The file's writer may shrink it at any time; an unguarded view would then kill us on a read.
    const int file = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (file < 0 || !CViewGuard::Add(base, m_size)) {
        if (file >= 0) {
            close(file);
        }
        munmap(base, m_size);
        return nullptr;
    }
    CViewRegistry::AddFileView(base, m_size, file);
    return base;
}

}  // namespace Platform
}  // namespace Zun
