#include "tools/agent/host/CAgentLogger.h"

#include <Poco/File.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/CTrustedPath.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef CAgentLogger::Level Level;

const char* const kLevelNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
// The module's levels 1 to 4, in order.
const Level kModuleLevels[] = {Level::Trace, Level::Info, Level::Warn, Level::Error};
const int kLowestModuleLevel = 1;
const int kHighestModuleLevel = 4;
// syslog's priorities of the levels, as the journal reads them: debug, debug, info, warning, err.
const int kJournalPriorities[] = {7, 7, 6, 4, 3};

// "LEVEL source: text" on one line whatever the text holds, so that a log reader never sees
// forged entries.
std::string Entry(const std::string& text, Level level, const std::string& sourceName) {
    std::string line = CAgentLogger::LevelName(level) + " " + sourceName + ": ";
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

}  // namespace

const uint64_t CAgentLogger::kDefaultMaxBytes;
const Level CAgentLogger::kDefaultThreshold;

CAgentLogger::CAgentLogger(std::ostream& stream, const std::string& fileName, uint64_t maxBytes,
                           Level threshold, Stream style)
    : m_stream(stream), m_fileName(fileName), m_maxBytes(maxBytes), m_threshold(threshold), m_style(style) {
    OpenFile();
}

void CAgentLogger::Reopen() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    OpenFile();
}

// The folder is checked and the file made owner-only before the stream opens it, so the stream
// cannot be led through a symlink or into another user's file.
void CAgentLogger::OpenFile() {
    if (m_fileName.empty()) {
        return;
    }
    m_file.close();
    m_file.clear();
    Platform::CTrustedPath::CheckFolder(CAgentStore::FolderOf(m_fileName));
    Platform::CTrustedPath::EnsurePrivateFile(m_fileName);
    m_file.open(m_fileName, std::ios::app | std::ios::binary);
    if (!m_file) {
        throw std::runtime_error("Cannot open log file " + m_fileName);
    }
    m_bytes = Poco::File(m_fileName).getSize();
}

void CAgentLogger::Write(const std::string& text, int level, const std::string& sourceName) {
    Write(text, FromModule(level), sourceName);
}

void CAgentLogger::Write(const std::string& text, Level level, const std::string& sourceName) {
    if (level < m_threshold) {
        return;
    }
    WriteAll({text}, level, sourceName);
}

void CAgentLogger::WriteAll(const std::vector<std::string>& texts, Level level,
                            const std::string& sourceName) {
    if (level < m_threshold || texts.empty()) {
        return;
    }
    const std::string time = CAgentStore::Now();
    std::string lines;
    std::string streamLines;
    for (const std::string& text : texts) {
        lines += Format(time, text, level, sourceName);
        streamLines += StreamLine(time, text, level, sourceName);
    }
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_stream << streamLines << std::flush;
    if (m_file.is_open()) {
        m_file << lines << std::flush;
        m_bytes += lines.size();
        RotateIfFull();
    }
}

// A rotation that fails (something else at the rotated name, the disk full) keeps the file going
// and is tried again after another maxBytes: one stray folder must not end file logging for good.
// Only a file that can no longer be opened (the folder became untrusted) leaves the log on stderr.
void CAgentLogger::RotateIfFull() {
    if (m_maxBytes == 0 || m_bytes < m_maxBytes) {
        return;
    }
    m_file.close();
    std::string failure;
    try {
        Poco::File(m_fileName).renameTo(RotatedName(m_fileName));
    } catch (const std::exception& e) {
        failure = "Cannot rotate the log file: " + std::string(e.what()) + "; it grows on";
    }
    try {
        OpenFile();
    } catch (const std::exception& e) {
        failure = "Cannot rotate the log file: " + std::string(e.what());
    }
    if (failure.empty()) {
        return;
    }
    const std::string time = CAgentStore::Now();
    m_stream << StreamLine(time, failure, Level::Error, "quil-agent") << std::flush;
    if (m_file.is_open()) {
        m_file << Format(time, failure, Level::Error, "quil-agent") << std::flush;
        m_bytes = 0;  // counts toward the next attempt
    }
}

Level CAgentLogger::FromModule(int level) {
    return kModuleLevels[std::min(std::max(level, kLowestModuleLevel), kHighestModuleLevel) -
                         kLowestModuleLevel];
}

std::string CAgentLogger::LevelName(Level level) {
    return kLevelNames[static_cast<int>(level)];
}

Level CAgentLogger::ParseLevel(const std::string& name) {
    std::string upper;
    for (char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (int level = 0; level <= static_cast<int>(Level::Error); ++level) {
        if (upper == kLevelNames[level]) {
            return static_cast<Level>(level);
        }
    }
    throw std::invalid_argument("--log-level needs TRACE, DEBUG, INFO, WARN or ERROR, not '" + name + "'");
}

std::string CAgentLogger::Format(const std::string& time, const std::string& text, Level level,
                                 const std::string& sourceName) {
    return time + " " + Entry(text, level, sourceName);
}

std::string CAgentLogger::FormatForJournal(const std::string& text, Level level,
                                           const std::string& sourceName) {
    return "<" + std::to_string(kJournalPriorities[static_cast<int>(level)]) + ">" +
           Entry(text, level, sourceName);
}

std::string CAgentLogger::StreamLine(const std::string& time, const std::string& text, Level level,
                                     const std::string& sourceName) const {
    return m_style == Stream::Journal ? FormatForJournal(text, level, sourceName)
                                      : Format(time, text, level, sourceName);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
