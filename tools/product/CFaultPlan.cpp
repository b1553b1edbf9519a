#include "tools/product/CFaultPlan.h"

#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Product {

namespace {

const char* const kNames[] = {"status", "oversize", "short", "lying-length", "short-payload", "drop", "hang"};

}  // namespace

Fault::Kind Fault::KindOf(const std::string& name) {
    for (int kind = kStatus; kind <= kHang; ++kind) {
        if (name == kNames[kind]) {
            return static_cast<Kind>(kind);
        }
    }
    throw std::invalid_argument("unknown fault kind \"" + name + "\"");
}

const char* Fault::NameOf(Kind kind) {
    return kNames[kind];
}

void CFaultPlan::Add(const Fault& fault) {
    if (fault.Count == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_faults.push_back(fault);
}

void CFaultPlan::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_faults.clear();
    m_pingResult = 0;
}

std::optional<Fault> CFaultPlan::Take() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_faults.empty()) {
        return std::nullopt;
    }
    const Fault fault = m_faults.front();
    if (--m_faults.front().Count == 0) {
        m_faults.pop_front();
    }
    return fault;
}

std::size_t CFaultPlan::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::size_t requests = 0;
    for (const Fault& fault : m_faults) {
        requests += fault.Count;
    }
    return requests;
}

void CFaultPlan::SetPingResult(std::uint32_t result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pingResult = result;
}

std::uint32_t CFaultPlan::PingResult() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pingResult;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
