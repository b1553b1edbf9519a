#include "tools/agent/host/CJournalStream.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Windows has no journal; the service's standard error is a plain stream there.
bool CJournalStream::Matches(int, const std::string&) {
    return false;
}

bool CJournalStream::IsStandardError() {
    return false;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
