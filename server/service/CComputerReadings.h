#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/CFleetStore.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Server {

// What the fleet's list shows of a computer, read from its rows as they arrive rather than from its
// history each time a page asks: whether its agent reaches the product (judged as quil-agent itself
// judges it), its newest protection status as a readable line, its encryption storage and the
// soonest expiry of its newest licences.
class CComputerReadings {
public:
    // Types the agent stores that tell about the product.
    static const int64_t kProtectionStatus = 10044;
    static const int64_t kConnectorStatus = 10292;
    static const int64_t kStorageStatus = 10553;
    static const int64_t kLicences = 10348;
    static const int64_t kProductStatus = 10405;
    static const int64_t kTaskResult = 10368;

    // The row types that tell any of them.
    static const std::vector<int64_t>& Types();
    // The row types that tell whether the agent reaches the product.
    static const std::vector<int64_t>& StateTypes();
    // Takes what the row tells into the readings. Rows are taken oldest first, so that the newest
    // row that tells something decides; one that tells nothing (or is damaged) changes nothing,
    // except that a damaged storage or licence row clears what an older one said.
    static void Take(const CFleetStore::Row& row, CFleetStore::Readings& readings);
    // The row as one readable line, its time first; a damaged row says so.
    static std::string Line(const CFleetStore::Row& row);
    // The row as the agent's store holds it, for the agent's own readers.
    static Tools::Agent::CAgentStore::Record AsRecord(const CFleetStore::Row& row);
};

}  // namespace Server
}  // namespace Zun
