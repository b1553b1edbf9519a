#include "tools/agent/CAgentLogger.h"

#include <algorithm>
#include <stdexcept>

#include "tools/agent/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

CAgentLogger::CAgentLogger(std::ostream& stream, const std::string& fileName) : m_stream(stream) {
    if (fileName.empty()) {
        return;
    }
    m_file.open(fileName, std::ios::app);
    if (!m_file) {
        throw std::runtime_error("Cannot open log file " + fileName);
    }
}

void CAgentLogger::Write(const std::string& text, int level, const std::string& sourceName) {
    const std::string line = Format(CAgentStore::Now(), text, level, sourceName);
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_stream << line << std::flush;
    if (m_file.is_open()) {
        m_file << line << std::flush;
    }
}

std::string CAgentLogger::LevelName(int level) {
    static const char* const names[] = {"DEBUG", "INFO", "WARN", "ERROR"};
    return names[std::min(std::max(level, 1), 4) - 1];
}

std::string CAgentLogger::Format(const std::string& time, const std::string& text, int level,
                                 const std::string& sourceName) {
    std::string line = time + " " + LevelName(level) + " " + sourceName + ": ";
    for (char c : text) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    return line + "\n";
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
