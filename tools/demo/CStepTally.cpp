#include "tools/demo/CStepTally.h"

namespace Zun {
namespace Tools {
namespace Demo {

int CStepTally::Begin(const std::string& title) {
    m_met = m_begun++;
    m_title = title;
    return m_begun;
}

std::string CStepTally::Verdict(bool interrupted) const {
    if (interrupted) {
        return "Stopped by the user in step " + std::to_string(m_begun) + " of " + std::to_string(m_steps) +
               " (" + m_title + "); the " + std::to_string(m_met) + " steps before it met their deadline";
    }
    return std::to_string(m_met) + " of " + std::to_string(m_steps) + " steps met their deadline";
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
