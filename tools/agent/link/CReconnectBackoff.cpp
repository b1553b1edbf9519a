#include "tools/agent/link/CReconnectBackoff.h"

#include <algorithm>

namespace Zun {
namespace Tools {
namespace Agent {

const std::chrono::milliseconds CReconnectBackoff::kFirst(1000);
const std::chrono::milliseconds CReconnectBackoff::kCeiling(5 * 60 * 1000);

CReconnectBackoff::CReconnectBackoff(std::chrono::milliseconds first, std::chrono::milliseconds ceiling)
    : m_first(first), m_ceiling(std::max(first, ceiling)), m_bound(first), m_random(std::random_device{}()) {}

std::chrono::milliseconds CReconnectBackoff::Next() {
    std::uniform_int_distribution<int64_t> draw(0, m_bound.count());
    const std::chrono::milliseconds wait(draw(m_random));
    m_bound = std::min(m_ceiling, m_bound * 2);
    return wait;
}

void CReconnectBackoff::Reset() {
    m_bound = m_first;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
