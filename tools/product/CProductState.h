#pragma once

#include <Poco/JSON/Object.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/product/ProductRecords.h"

namespace Zun {
namespace Tools {
namespace Product {

// Everything the product knows, as loaded from its state file and changed by requests and the
// control interface. A plain value: CProduct guards it.
class CProductState {
public:
    std::vector<StatusEntry> Status;
    std::vector<LicenceEntry> Licenses;
    std::deque<TaskResult> TaskResults;
    std::vector<RecoveryPasswordEntry> RecoveryPasswords;
    std::vector<RecoveryDataEntry> RecoveryData;
    std::string Policy;
    std::string Configuration;
    std::string AgentId;
    std::uint32_t ServerValue = 1;
    bool MaintenanceMode = false;
    // The result the product reports for the commands it finishes.
    std::uint32_t CommandResult = 1;
    // Unconfirmed recovery material is announced again after this long; 0 announces it once.
    std::uint32_t RecoveryReannounceSeconds = 60;

    // A freshly installed product with one healthy disk, one licence and recovery material to escrow.
    static CProductState Default();
    // Throw CJsonError naming the offending field.
    static CProductState FromJson(const std::string& text);
    static CProductState Load(const std::string& path);
    // With maskSecrets the recovery material shows only its length.
    Poco::JSON::Object::Ptr ToObject(bool maskSecrets) const;
    std::string ToJson(bool maskSecrets) const;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
