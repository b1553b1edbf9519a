#pragma once

#include <vector>

#include "messages/RecoveryDataRecord.h"
#include "messages/RecoveryPasswordRecord.h"

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
