#pragma once

#include <string>
#include <vector>

#include "channel/CChannelResponse.h"
#include "messages/ProtectionStatusRecord.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The product's protection status, as the status tasks read it.
class CGetStatusResponse : public CChannelResponse {
public:
    virtual const std::vector<ProtectionStatusRecord>& GetProtectionStatusRecords() const = 0;
    // The document exactly as received, kept even when it failed to parse.
    virtual const std::string& GetRawDocument() const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
