#include "platform/CSharedSection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CUniqueFd.h"

namespace Zun {
namespace Platform {

namespace {

constexpr int kRequiredSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

}  // namespace

int CSharedSection::Create(std::size_t size) {
    if (size == 0) {
        return -1;
    }
    CUniqueFd fd(memfd_create("quil-section", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd.IsOpen() || ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 ||
        fcntl(fd.Get(), F_ADD_SEALS, kRequiredSeals) != 0) {
        return -1;
    }
    return fd.Release();
}

bool CSharedSection::IsSealed(int fd) {
    const int seals = fcntl(fd, F_GET_SEALS);
    return seals >= 0 && (seals & kRequiredSeals) == kRequiredSeals;
}

void* CSharedSection::Map(int fd, std::size_t& size, bool writable) {
    struct stat info;
    if (!IsSealed(fd) || fstat(fd, &info) != 0 || info.st_size <= 0) {
        return nullptr;
    }
    size = static_cast<std::size_t>(info.st_size);
    void* base = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    return base == MAP_FAILED ? nullptr : base;
}

}  // namespace Platform
}  // namespace Zun
