#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// Whether a stream of ours is connected to the systemd journal. systemd names the stream it
// connects to a service's standard output and error in JOURNAL_STREAM ("<device>:<inode>"); the
// journal then stamps each line itself and reads a "<N>" opening as the line's priority.
class CJournalStream {
public:
    // True when the descriptor is the stream that journalStream ("<device>:<inode>") names.
    static bool Matches(int descriptor, const std::string& journalStream);
    // True when standard error is the stream JOURNAL_STREAM names.
    static bool IsStandardError();
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
