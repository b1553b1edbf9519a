#pragma once

#include <boost/function.hpp>
#include <sstream>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// One log line in the making: collects text and writes it once, when the entry ends, if it holds
// any text. Typically used as a temporary: `logger.Log(4) << "text";`.
class CLogEntry {
public:
    typedef boost::function<void(int level, const std::string& text)> Writer;

    CLogEntry(int level, Writer writer) : m_level(level), m_writer(std::move(writer)) {}
    CLogEntry(CLogEntry&& other) noexcept;
    CLogEntry(const CLogEntry&) = delete;
    CLogEntry& operator=(const CLogEntry&) = delete;
    ~CLogEntry();

    template <typename T>
    CLogEntry& operator<<(const T& value) {
        m_text << value;
        return *this;
    }

    int GetLevel() const { return m_level; }

private:
    int m_level;
    Writer m_writer;
    std::ostringstream m_text;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
