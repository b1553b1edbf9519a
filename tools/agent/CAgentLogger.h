#pragma once

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <fstream>
#include <ostream>
#include <string>

#include "host/ILoggerResource.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The host's log: one line per entry, with UTC time, level and source, to stderr and to a file.
// Levels run from 1 to 4 as the module uses them; anything outside is clamped.
class CAgentLogger : public Common::Kernel::ILoggerResource {
public:
    // An empty file name logs to the stream only. Throws std::runtime_error when the file cannot be
    // opened for appending.
    CAgentLogger(std::ostream& stream, const std::string& fileName);

    void Write(const std::string& text, int level, const std::string& sourceName) override;

    static std::string LevelName(int level);
    // One line whatever the text holds, so that a log reader never sees forged entries.
    static std::string Format(const std::string& time, const std::string& text, int level,
                              const std::string& sourceName);

private:
    boost::mutex m_lock;
    std::ostream& m_stream;
    std::ofstream m_file;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
