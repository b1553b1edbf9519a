#include "core/CLogEntry.h"

namespace Zun {
namespace Connectors {
namespace Common {

CLogEntry::CLogEntry(CLogEntry&& other) noexcept
    : m_level(other.m_level), m_writer(std::move(other.m_writer)), m_text(std::move(other.m_text)) {
    other.m_writer.clear();
}

CLogEntry::~CLogEntry() {
    const std::string text = m_text.str();
    if (text.empty() || m_writer.empty()) {
        return;
    }
    try {
        m_writer(m_level, text);
    } catch (...) {
        // A failing host logger must not take the caller down with it.
    }
}

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
