#include "tools/agent/host/CAgentStatus.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <boost/thread/lock_guard.hpp>

#include <algorithm>

#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

// The module's source name and the fixed openings of its lines that tell about the product.
const char* const kModuleSource = "CQUILConnectorModule";
const std::string kDeactivated = "Connector was deactivated";
const std::string kPingFailed = "Ping failed";
const int kLevelError = 4;
// Published by the module: its connector status once connected, the protection status (whose
// level 6 row means the product cannot be reached) and, when deactivated, a product status
// without rows.
const uint32_t kConnectorStatus = 10292;
const uint32_t kProtectionStatus = 10044;
const uint32_t kProductStatus = 10405;
const uint32_t kTaskResult = 10368;
const int kProtectionLevelSymbol = 241;
const int kUnreachableLevel = 6;
const int kTaskStateSymbol = 2850;
const int kTaskDone = 30;
// Quiet watchdog cycles after the last failed ping before an answer counts as the product's return,
// and a margin for a cycle held up by a request in progress or a busy machine.
const int kQuietCycles = 2;
const std::chrono::seconds kQuietMargin(1);

bool StartsWith(const std::string& text, const std::string& opening) {
    return text.compare(0, opening.size(), opening) == 0;
}

Poco::JSON::Array::Ptr Rows(const std::string& content) {
    try {
        Poco::JSON::Parser parser;
        return parser.parse(content).extract<Poco::JSON::Object::Ptr>()->getArray("rows");
    } catch (const Poco::Exception&) {
        return nullptr;
    }
}

// The value of a symbol in the first row, as text; empty when there is none.
std::string FirstRowValue(const std::string& content, int id) {
    const Poco::JSON::Array::Ptr rows = Rows(content);
    if (!rows || rows->size() == 0) {
        return std::string();
    }
    const Poco::JSON::Array::Ptr symbols = rows->getArray(0);
    for (size_t i = 0; symbols && i < symbols->size(); ++i) {
        const Poco::JSON::Object::Ptr symbol = symbols->getObject(static_cast<unsigned>(i));
        if (symbol && symbol->optValue<int>("id", 0) == id) {
            return symbol->get("value").toString();
        }
    }
    return std::string();
}

bool IsUnreachableRow(const std::string& content) {
    return FirstRowValue(content, kProtectionLevelSymbol) == std::to_string(kUnreachableLevel);
}

// Published only with what the product answered: a protection status other than the unreachable
// one, or a task the product reports done. Retries, cancellations and the agent's own rows are not.
bool IsProductAnswer(uint32_t type, const std::string& content) {
    if (type == kProtectionStatus) {
        const std::string level = FirstRowValue(content, kProtectionLevelSymbol);
        return !level.empty() && level != std::to_string(kUnreachableLevel);
    }
    return type == kTaskResult && FirstRowValue(content, kTaskStateSymbol) == std::to_string(kTaskDone);
}

void SetOptional(Poco::JSON::Object& object, const std::string& key, const std::string& value) {
    if (!value.empty()) {
        object.set(key, value);
    }
}

}  // namespace

const std::chrono::milliseconds CAgentStatus::kWatchdogPeriod(10000);

// What one stored row proves about the product on its own, without the ping failures only the
// agent sees: a connector status or a finished task says it answered, an unreachable protection
// status that it did not, a product status without rows that it is not installed. A protection
// status that is not the unreachable one proves nothing here: the module asks for it also while
// pings fail, and the product may still answer that.
CAgentStatus::Evidence CAgentStatus::EvidenceOf(uint32_t type, const std::string& content) {
    if (type == kConnectorStatus) {
        return Evidence::Answered;
    }
    if (type == kTaskResult) {
        return IsProductAnswer(type, content) ? Evidence::Answered : Evidence::None;
    }
    if (type == kProtectionStatus) {
        return IsUnreachableRow(content) ? Evidence::NotReachable : Evidence::None;
    }
    if (type == kProductStatus && Rows(content) && Rows(content)->size() == 0) {
        return Evidence::NotInstalled;
    }
    return Evidence::None;
}

CAgentStatus::CAgentStatus(Common::Kernel::ILoggerResource& log, std::string location, LostHandler lost,
                           std::function<Clock::time_point()> clock)
    : m_log(log),
      m_location(std::move(location)),
      m_lost(std::move(lost)),
      m_since(CAgentStore::Now()),
      m_clock(std::move(clock)),
      m_failureInterval(kWatchdogPeriod) {}

void CAgentStatus::Write(const std::string& text, int level, const std::string& sourceName) {
    m_log.Write(text, level, sourceName);
    if (sourceName != kModuleSource) {
        return;
    }
    if (level >= kLevelError) {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_lastError = text;
        m_lastErrorTime = CAgentStore::Now();
    }
    if (StartsWith(text, kDeactivated)) {
        Lost(Product::NotInstalled, "product not installed: no ProductVersion in the " + m_location);
    } else if (StartsWith(text, kPingFailed)) {
        {
            boost::lock_guard<boost::mutex> guard(m_lock);
            // A return that became due before this failure is a change of its own.
            Settle();
            const Clock::time_point now = m_clock();
            if (m_pingFailed) {
                m_failureInterval = std::min<Clock::duration>(now - m_lastFailure, kWatchdogPeriod);
            }
            m_pingFailed = true;
            m_lastFailure = now;
            m_answeredAt.clear();
            m_lastPingFailure = CAgentStore::Now();
        }
        Lost(Product::NotReachable, "product not reachable: " + text);
    }
}

void CAgentStatus::Observe(uint32_t type, const std::string& content) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    const bool deactivated = type == kProductStatus && Rows(content) && Rows(content)->size() == 0;
    if (type == kConnectorStatus && m_product != Product::Connected) {
        m_product = Product::Connected;
        m_since = CAgentStore::Now();
        m_reason.clear();
        m_pingFailed = false;
        m_failureInterval = kWatchdogPeriod;
    } else if (IsProductAnswer(type, content) && m_product != Product::NotInstalled) {
        if (m_answeredAt.empty()) {
            m_answeredAt = CAgentStore::Now();
        }
        Settle();
    } else if (type == kProtectionStatus && m_product == Product::Starting && IsUnreachableRow(content)) {
        m_product = Product::NotReachable;
        m_since = CAgentStore::Now();
        m_reason = "product not reachable: the module could not connect in the " + m_location;
    } else if (deactivated && m_product != Product::NotInstalled) {
        m_product = Product::NotInstalled;
        m_since = CAgentStore::Now();
    }
}

// Only a change is told: pings keep failing every cycle until the module reconnects.
void CAgentStatus::Lost(Product product, const std::string& reason) {
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (m_product == product || m_product == Product::NotInstalled) {
            return;
        }
        m_product = product;
        m_since = CAgentStore::Now();
        m_reason = reason;
    }
    m_lost(reason);
}

void CAgentStatus::Settle() {
    const bool waiting = m_product == Product::Starting || m_product == Product::NotReachable;
    if (!waiting || m_answeredAt.empty() ||
        (m_pingFailed && m_clock() - m_lastFailure < kQuietCycles * m_failureInterval + kQuietMargin)) {
        return;
    }
    m_product = Product::Connected;
    m_since = m_answeredAt;
    m_reason.clear();
    m_answeredAt.clear();
}

CAgentStatus::Product CAgentStatus::State() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    Settle();
    return m_product;
}

std::string CAgentStatus::Name(Product product) {
    switch (product) {
        case Product::Starting:
            return "connecting";
        case Product::Connected:
            return "connected";
        case Product::NotInstalled:
            return "not installed";
        case Product::NotReachable:
            return "not reachable";
    }
    return "unknown";
}

Poco::JSON::Object::Ptr CAgentStatus::Report(std::size_t unfinishedTasks) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    Settle();
    Poco::JSON::Object::Ptr report = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    report->set("ok", true);
    report->set("product", Name(m_product));
    report->set("since", m_since);
    SetOptional(*report, "reason", m_reason);
    report->set("looked_in", m_location);
    SetOptional(*report, "last_ping_failure", m_lastPingFailure);
    report->set("unfinished_tasks", static_cast<Poco::UInt64>(unfinishedTasks));
    SetOptional(*report, "last_error", m_lastError);
    SetOptional(*report, "last_error_time", m_lastErrorTime);
    return report;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
