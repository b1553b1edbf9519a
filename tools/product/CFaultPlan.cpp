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

std::optional<Fault> CFaultPlan::Take(const std::function<std::string()>& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::optional<std::string> request;
    for (auto queued = m_faults.begin(); queued != m_faults.end(); ++queued) {
        if (!queued->Request.empty()) {
            if (!request) {
                request = name ? name() : std::string();
            }
            if (queued->Request != *request) {
                continue;
            }
        }
        const Fault fault = *queued;
        if (--queued->Count == 0) {
            m_faults.erase(queued);
        }
        return fault;
    }
    return std::nullopt;
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
