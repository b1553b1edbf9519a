#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Demo {

// The steps of a demo scenario: which one runs, and how many came true within their deadline. A
// step begins once the previous one came true.
class CStepTally {
public:
    explicit CStepTally(int steps) : m_steps(steps) {}

    // Starts the next step; returns its number, from 1.
    int Begin(const std::string& title);
    // Every step begun came true.
    void Finish() { m_met = m_begun; }
    // "N of M steps met their deadline", or after Ctrl-C where the scenario was stopped, which is no
    // failure of the steps.
    std::string Verdict(bool interrupted) const;

private:
    int m_steps;
    int m_begun = 0;
    int m_met = 0;
    std::string m_title;  // of the step begun last
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
