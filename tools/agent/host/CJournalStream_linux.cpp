#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "tools/agent/host/CJournalStream.h"

namespace Zun {
namespace Tools {
namespace Agent {

bool CJournalStream::Matches(int descriptor, const std::string& journalStream) {
    std::istringstream in(journalStream);
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char colon = 0;
    if (!(in >> device >> colon >> inode) || colon != ':' || in.peek() != std::char_traits<char>::eof()) {
        return false;
    }
    struct stat status {};
    return fstat(descriptor, &status) == 0 && static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

bool CJournalStream::IsStandardError() {
    const char* const stream = getenv("JOURNAL_STREAM");
    return stream != nullptr && Matches(STDERR_FILENO, stream);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
