#pragma once

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The host's log: one line per entry, with UTC time, level and source, to stderr and to a file.
// Entries below the threshold (INFO unless set) are dropped. The module writes levels 1 to 4; it
// writes level 1 only for the raw documents the product answers, which can be large and carry
// details nobody needs day to day, so its level 1 is TRACE here, 2 INFO, 3 WARN and 4 ERROR;
// anything outside is clamped. The agent's own entries name their level directly. The file is owner-only
// and never reached through a symlink; past maxBytes it becomes "<file>.1" (replacing the previous
// one) and a fresh file is started, so the log never takes more than twice maxBytes while that name
// is free. When the stream is the journal, its lines open with the level's syslog priority ("<3>" for
// ERROR) and leave the time to the journal.
class CAgentLogger : public Common::Kernel::ILoggerResource {
public:
    enum class Level { Trace, Debug, Info, Warn, Error };
    enum class Stream { Plain, Journal };

    static const uint64_t kDefaultMaxBytes = 10 * 1024 * 1024;
    static const Level kDefaultThreshold = Level::Info;

    // An empty file name logs to the stream only; a maxBytes of 0 never rotates. Throws
    // std::runtime_error naming the file when it cannot be trusted or opened for appending.
    CAgentLogger(std::ostream& stream, const std::string& fileName, uint64_t maxBytes = kDefaultMaxBytes,
                 Level threshold = kDefaultThreshold, Stream style = Stream::Plain);

    // An entry at the module's level (1 to 4).
    void Write(const std::string& text, int level, const std::string& sourceName) override;
    void Write(const std::string& text, Level level, const std::string& sourceName);
    // Entries of one moment (the answers to lines that arrived together), written at once.
    void WriteAll(const std::vector<std::string>& texts, Level level, const std::string& sourceName);
    // Whether an entry at this level is written: entries made per message are not even built when not.
    bool IsWritten(Level level) const { return level >= m_threshold; }
    // Opens the file again by its name, after someone moved it away (log rotation, SIGHUP). Throws
    // like the constructor; the stream keeps receiving the lines meanwhile.
    void Reopen();

    static Level FromModule(int level);
    static std::string LevelName(Level level);
    // TRACE, DEBUG, INFO, WARN or ERROR, in any case; throws std::invalid_argument otherwise.
    static Level ParseLevel(const std::string& name);
    // One line whatever the text holds, so that a log reader never sees forged entries.
    static std::string Format(const std::string& time, const std::string& text, Level level,
                              const std::string& sourceName);
    // The same line for the journal: the priority instead of the time.
    static std::string FormatForJournal(const std::string& text, Level level, const std::string& sourceName);

    static std::string RotatedName(const std::string& fileName) { return fileName + ".1"; }

private:
    void OpenFile();
    void RotateIfFull();
    std::string StreamLine(const std::string& time, const std::string& text, Level level,
                           const std::string& sourceName) const;

    boost::mutex m_lock;
    std::ostream& m_stream;
    std::string m_fileName;
    uint64_t m_maxBytes;
    Level m_threshold;
    Stream m_style;
    uint64_t m_bytes = 0;  // in the current file
    std::ofstream m_file;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
