#pragma once

#include <vector>

#include "channel/RecoveryDataRecord.h"
#include "channel/RecoveryPasswordRecord.h"

namespace Zun {
namespace Connectors {
namespace Common {

// Everything one recovery-data reply holds; also what a confirmation names back to the product.
struct RecoveryDataSet {
    std::vector<RecoveryPasswordRecord> RecoveryPasswords;
    std::vector<RecoveryDataRecord> RecoveryData;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
