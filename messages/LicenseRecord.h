#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/proto/Common.pb.h"

namespace Zun {
namespace Connectors {
namespace Common {

// One License element of the product's LICENSEINFO group.
struct LicenseRecord {
    std::string AssociatedSeatId;
    std::string LicensePublicId;
    std::string LicenseProductName;
    std::optional<Zun::Common::DataDefinition::Common::UTCTime> LicenseExpirationDate;
    bool ActivatedBy = false;
    std::optional<int64_t> ProductCode;
    std::optional<std::string> SeatName;
    std::optional<int64_t> LicenseRenewalPeriod;
    std::optional<std::string> LicenseType;
    std::optional<int64_t> LicenseFlags;
    std::optional<std::string> LicenseModelType;
    std::optional<std::string> LicenseModelStatus;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
