#pragma once

#include <chrono>

namespace Zun {
namespace Platform {

// A point in time after which a wait gives up; an unlimited deadline never passes.
class CDeadline {
public:
    static CDeadline Unlimited() { return CDeadline(); }
    static CDeadline In(std::chrono::milliseconds span) {
        return CDeadline(std::chrono::steady_clock::now() + span);
    }

    bool IsUnlimited() const { return m_unlimited; }
    // For poll(): -1 when unlimited, else the milliseconds left, rounded up, never negative.
    int RemainingMs() const;

private:
    CDeadline() : m_unlimited(true) {}
    explicit CDeadline(std::chrono::steady_clock::time_point at) : m_unlimited(false), m_at(at) {}

    bool m_unlimited;
    std::chrono::steady_clock::time_point m_at;
};

inline int CDeadline::RemainingMs() const {
    if (m_unlimited) {
        return -1;
    }
    const auto left = m_at - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

}  // namespace Platform
}  // namespace Zun
