#include "tools/agent/host/CAgentStatus.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <boost/thread/lock_guard.hpp>

#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

// The module's source name and the fixed openings of its lines that tell about the product.
const char* const kModuleSource = "CQUILConnectorModule";
const std::string kDeactivated = "Connector was deactivated";
const std::string kPingFailed = "Ping failed";
const std::string kPingAnswered = "Ping answered again";
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

// Published only with what the product answered: retries, cancellations and the agent's own rows
// carry other states.
bool IsTaskDone(const std::string& content) {
    return FirstRowValue(content, kTaskStateSymbol) == std::to_string(kTaskDone);
}

void SetOptional(Poco::JSON::Object& object, const std::string& key, const std::string& value) {
    if (!value.empty()) {
        object.set(key, value);
    }
}

}  // namespace

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
        return IsTaskDone(content) ? Evidence::Answered : Evidence::None;
    }
    if (type == kProtectionStatus) {
        return IsUnreachableRow(content) ? Evidence::NotReachable : Evidence::None;
    }
    if (type == kProductStatus && Rows(content) && Rows(content)->size() == 0) {
        return Evidence::NotInstalled;
    }
    return Evidence::None;
}

CAgentStatus::CAgentStatus(Common::Kernel::ILoggerResource& log, std::string location, LostHandler lost)
    : m_log(log), m_location(std::move(location)), m_lost(std::move(lost)), m_since(CAgentStore::Now()) {}

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
            m_lastPingFailure = CAgentStore::Now();
        }
        Lost(Product::NotReachable, "product not reachable: " + text);
    } else if (StartsWith(text, kPingAnswered)) {
        boost::lock_guard<boost::mutex> guard(m_lock);
        if (m_product == Product::NotReachable) {
            Connected();
        }
    }
}

void CAgentStatus::Observe(uint32_t type, const std::string& content) {
    boost::lock_guard<boost::mutex> guard(m_lock);
    const bool deactivated = type == kProductStatus && Rows(content) && Rows(content)->size() == 0;
    if (type == kConnectorStatus && m_product != Product::Connected) {
        Connected();
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

void CAgentStatus::Connected() {
    m_product = Product::Connected;
    m_since = CAgentStore::Now();
    m_reason.clear();
}

CAgentStatus::Product CAgentStatus::State() {
    boost::lock_guard<boost::mutex> guard(m_lock);
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
