#include "server/service/CComputerReadings.h"

#include <algorithm>
#include <stdexcept>

#include "tools/agent/host/CAgentStatus.h"
#include "tools/agent/logs/CMessageSummary.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Server {

using Tools::Agent::CAgentStatus;
using Tools::Agent::CMessageSummary;

namespace {

// The product's state as the row tells it, by the agent's own rules; empty when it tells nothing,
// as a row that cannot be read tells nothing.
std::string StateOf(const CFleetStore::Row& row) {
    CAgentStatus::Evidence evidence = CAgentStatus::Evidence::None;
    try {
        evidence = CAgentStatus::EvidenceOf(static_cast<uint32_t>(row.type), row.content);
    } catch (const std::exception&) {
    }
    switch (evidence) {
        case CAgentStatus::Evidence::Answered:
            return CAgentStatus::Name(CAgentStatus::Product::Connected);
        case CAgentStatus::Evidence::NotReachable:
            return CAgentStatus::Name(CAgentStatus::Product::NotReachable);
        case CAgentStatus::Evidence::NotInstalled:
            return CAgentStatus::Name(CAgentStatus::Product::NotInstalled);
        case CAgentStatus::Evidence::None:
            break;
    }
    return std::string();
}

// A damaged storage or licence row says nothing, which replaces what an older one said.
std::string Summary(const CFleetStore::Row& row) {
    try {
        return row.type == CComputerReadings::kStorageStatus ? CMessageSummary::Storage(row.content)
                                                             : CMessageSummary::SoonestExpiry(row.content);
    } catch (const std::runtime_error&) {
        return std::string();
    }
}

}  // namespace

const std::vector<int64_t>& CComputerReadings::StateTypes() {
    static const std::vector<int64_t> types = {kConnectorStatus, kProtectionStatus, kProductStatus,
                                               kTaskResult};
    return types;
}

const std::vector<int64_t>& CComputerReadings::Types() {
    static const std::vector<int64_t> types = {kConnectorStatus, kProtectionStatus, kProductStatus,
                                               kTaskResult,      kStorageStatus,    kLicences};
    return types;
}

void CComputerReadings::Take(const CFleetStore::Row& row, CFleetStore::Readings& readings) {
    if (row.type == kStorageStatus) {
        readings.encryption = Summary(row);
        return;
    }
    if (row.type == kLicences) {
        readings.licenceExpiry = Summary(row);
        return;
    }
    const std::vector<int64_t>& states = StateTypes();
    if (std::find(states.begin(), states.end(), row.type) == states.end()) {
        return;
    }
    if (row.type == kProtectionStatus) {
        readings.protection = Line(row);
    }
    const std::string state = StateOf(row);
    if (!state.empty()) {
        readings.product = state;
    }
}

std::string CComputerReadings::Line(const CFleetStore::Row& row) {
    try {
        return row.time + " " + CMessageSummary::Line(AsRecord(row));
    } catch (const std::exception&) {
        return row.time + " " + std::to_string(row.type) + " damaged row #" + std::to_string(row.sequence);
    }
}

Tools::Agent::CAgentStore::Record CComputerReadings::AsRecord(const CFleetStore::Row& row) {
    Tools::Agent::CAgentStore::Record record;
    record.sequence = row.sequence;
    record.time = row.time;
    record.type = static_cast<uint32_t>(row.type);
    record.className = row.className;
    record.description = row.description;
    record.userContext = row.userContext;
    record.content = row.content;
    return record;
}

}  // namespace Server
}  // namespace Zun
