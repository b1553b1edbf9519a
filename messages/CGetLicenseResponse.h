#pragma once

#include <string>
#include <vector>

#include "channel/CChannelResponse.h"
#include "messages/LicenseRecord.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The product's licences, as the licence task reads them.
class CGetLicenseResponse : public CChannelResponse {
public:
    virtual const std::vector<LicenseRecord>& GetLicenseRecords() const = 0;
    // The document exactly as received, kept even when it failed to parse.
    virtual const std::string& GetRawDocument() const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
