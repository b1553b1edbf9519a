#pragma once

#include <mutex>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// A lock that its owner thread may take again, as a Windows critical section. Usable with
// std::lock_guard.
class CCriticalSection {
public:
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
