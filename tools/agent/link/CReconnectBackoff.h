#pragma once

#include <chrono>
#include <cstdint>
#include <random>

namespace Zun {
namespace Tools {
namespace Agent {

// How long the server link waits before it tries again: exponential back-off with full jitter.
// The bound doubles with every failure up to a ceiling, and each wait is drawn uniformly from
// [0, bound], so that thousands of agents cut off by a server restart come back spread out rather
// than together.
class CReconnectBackoff {
public:
    static const std::chrono::milliseconds kFirst;
    static const std::chrono::milliseconds kCeiling;

    CReconnectBackoff(std::chrono::milliseconds first = kFirst, std::chrono::milliseconds ceiling = kCeiling);

    // The wait before the next attempt; raises the bound for the one after.
    std::chrono::milliseconds Next();
    // After a connection that worked: the next failure waits little again.
    void Reset();
    std::chrono::milliseconds Bound() const { return m_bound; }

private:
    std::chrono::milliseconds m_first;
    std::chrono::milliseconds m_ceiling;
    std::chrono::milliseconds m_bound;
    std::mt19937_64 m_random;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
