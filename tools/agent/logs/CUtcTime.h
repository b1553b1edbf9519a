#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// A UTC time as quil-agent's users write it: the end of a maintenance window in a task, the bounds
// of `logs`. The text's form is each reader's own; whether the numbers name a moment of the calendar
// is checked here, for all of them alike.
class CUtcTime {
public:
    // The years the module can convert a time in, and so the years a time may name.
    static const int kFirstYear = 1400;
    static const int kLastYear = 9999;
    static const int kAbsent = -1;

    // The parts of a time that are given; a time may end after any of them.
    struct Parts {
        int year = kAbsent;
        int month = kAbsent;
        int day = kAbsent;
        int hour = kAbsent;
        int minute = kAbsent;
        int second = kAbsent;
    };

    // Empty when every part given is in the calendar, else what is wrong, e.g. "month 13 does not
    // exist" or "February 2027 has 28 days, not 30".
    static std::string Fault(const Parts& parts);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
