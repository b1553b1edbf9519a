#pragma once

#include "channel/CChannelResponse.h"
#include "channel/RecoveryDataSet.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The recovery passwords and recovery data the product has not had confirmed yet.
class CGetEncryptionRecoveryDataResponse : public CChannelResponse {
public:
    virtual const RecoveryDataSet& GetRecoveryDataSet() const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
