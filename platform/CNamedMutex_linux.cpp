#include "platform/CNamedMutex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/CObjectNamespace.h"
#include "platform/CTrustedPath.h"

namespace Zun {
namespace Platform {

struct CNamedMutex::Shared {
    std::uint64_t magic;
    pthread_mutex_t mutex;
};

namespace {

constexpr std::uint64_t kMutexMagic = 0x31585554554C4951ull;  // "QILUTUX1"

bool InitializeMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

void* MapShared(int fd, std::size_t size) {
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return base == MAP_FAILED ? nullptr : base;
}

timespec AbsoluteIn(DWORD milliseconds) {
    timespec at;
    clock_gettime(CLOCK_REALTIME, &at);
    at.tv_sec += milliseconds / 1000;
    at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (at.tv_nsec >= 1000000000L) {
        at.tv_sec += 1;
        at.tv_nsec -= 1000000000L;
    }
    return at;
}

}  // namespace

CNamedMutex::~CNamedMutex() {
    munmap(m_shared, sizeof(Shared));
}

std::shared_ptr<CNamedMutex> CNamedMutex::Create(const std::string& name) {
    const std::string path = CObjectNamespace::PathOf(name);
    if (path.empty() || !CObjectNamespace::EnsureFolder()) {
        return nullptr;
    }
    // As with a named kernel object, creating a name that exists opens the existing mutex: a
    // product that restarts shares it with the readers that still hold it.
    if (std::shared_ptr<CNamedMutex> existing = Open(path)) {
        return existing;
    }
    // Built aside and renamed into place, so an opener never sees a half-initialized mutex. The
    // name aside is unpredictable and made exclusively: a file planted there is never used.
    std::string temporary;
    int fd = -1;
    try {
        fd = CTrustedPath::CreateTemporary(path + ".new", temporary);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
    void* base = ftruncate(fd, sizeof(Shared)) == 0 ? MapShared(fd, sizeof(Shared)) : nullptr;
    close(fd);
    Shared* shared = static_cast<Shared*>(base);
    if (shared != nullptr && InitializeMutex(&shared->mutex)) {
        shared->magic = kMutexMagic;
    }
    if (shared == nullptr || shared->magic != kMutexMagic || rename(temporary.c_str(), path.c_str()) != 0) {
        if (shared != nullptr) {
            munmap(shared, sizeof(Shared));
        }
        unlink(temporary.c_str());
        return nullptr;
    }
    return std::shared_ptr<CNamedMutex>(new CNamedMutex(shared));
}

std::shared_ptr<CNamedMutex> CNamedMutex::Open(const std::string& path) {
    if (!CObjectNamespace::IsFolderTrusted()) {
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    void* base = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && CObjectNamespace::IsTrustedOwner(info.st_uid) &&
        info.st_size == static_cast<off_t>(sizeof(Shared))) {
        base = MapShared(fd, sizeof(Shared));
    }
    close(fd);
    Shared* shared = static_cast<Shared*>(base);
    if (shared == nullptr) {
        return nullptr;
    }
    if (shared->magic != kMutexMagic) {
        munmap(shared, sizeof(Shared));
        return nullptr;
    }
    return std::shared_ptr<CNamedMutex>(new CNamedMutex(shared));
}

DWORD CNamedMutex::Wait(DWORD milliseconds) {
    int result;
    if (milliseconds == INFINITE) {
        result = pthread_mutex_lock(&m_shared->mutex);
    } else {
        result = TimedLock(milliseconds);
    }
    if (result == 0) {
        return WAIT_OBJECT_0;
    }
    if (result == EOWNERDEAD) {
        pthread_mutex_consistent(&m_shared->mutex);
        return WAIT_ABANDONED;
    }
    return result == ETIMEDOUT ? WAIT_TIMEOUT : WAIT_FAILED;
}

// The lock's time-out runs on the wall clock, which may be set or slewed meanwhile: the wait goes
// on until the full time has passed on the steady clock.
int CNamedMutex::TimedLock(DWORD milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int result;
    do {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const timespec at = AbsoluteIn(static_cast<DWORD>(std::max<std::int64_t>(left.count(), 0)));
        result = pthread_mutex_timedlock(&m_shared->mutex, &at);
    } while (result == ETIMEDOUT && std::chrono::steady_clock::now() < deadline);
    return result;
}

bool CNamedMutex::Release() {
    return pthread_mutex_unlock(&m_shared->mutex) == 0;
}

}  // namespace Platform
}  // namespace Zun
