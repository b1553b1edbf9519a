#include "ipc/CLazyBindingTable.h"

#include "platform/DirectImports.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

CLazyBindingTable::CLazyBindingTable(const Platform::WCHAR* library, const LazyBindingEntry* entries,
                                     std::size_t count)
    : m_library(library), m_entries(entries), m_count(count), m_module(NotTried()), m_done(false) {}

void CLazyBindingTable::Bind() {
    if (IsBound()) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (IsBound()) {
        return;
    }
    if (m_module == NotTried()) {
        m_module = Platform::LoadLibraryW(m_library);
    }
    for (std::size_t i = 0; i < m_count; ++i) {
        const Platform::FARPROC found =
            m_module != nullptr ? Platform::GetProcAddress(m_module, m_entries[i].name) : nullptr;
        m_entries[i].store(found != nullptr ? found : m_entries[i].fallback);
    }
    m_done.store(true, std::memory_order_release);
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
