#include "tools/agent/logs/CUtcTime.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int year, int month) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : lengths[month - 1];
}

// Empty when the part is absent or within [low, high].
std::string OutOf(const char* name, int value, int low, int high) {
    if (value == CUtcTime::kAbsent || (value >= low && value <= high)) {
        return std::string();
    }
    return std::string(name) + " " + std::to_string(value) + " does not exist";
}

}  // namespace

const int CUtcTime::kFirstYear;
const int CUtcTime::kLastYear;
const int CUtcTime::kAbsent;

std::string CUtcTime::Fault(const Parts& parts) {
    if (parts.year < kFirstYear || parts.year > kLastYear) {
        return "the year must lie between " + std::to_string(kFirstYear) + " and " +
               std::to_string(kLastYear);
    }
    const std::string month = OutOf("month", parts.month, 1, 12);
    if (!month.empty()) {
        return month;
    }
    if (parts.day != kAbsent && parts.month != kAbsent &&
        (parts.day < 1 || parts.day > DaysIn(parts.year, parts.month))) {
        return std::string(kMonths[parts.month - 1]) + " " + std::to_string(parts.year) + " has " +
               std::to_string(DaysIn(parts.year, parts.month)) + " days, not " + std::to_string(parts.day);
    }
    for (const std::string& fault : {OutOf("hour", parts.hour, 0, 23), OutOf("minute", parts.minute, 0, 59),
                                     OutOf("second", parts.second, 0, 59)}) {
        if (!fault.empty()) {
            return fault;
        }
    }
    return std::string();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
