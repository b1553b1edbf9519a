#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// One protection status record. Status 0xFFFFFFFF is the product's "not applicable" marker and
// carries no resource identifiers; every other status carries a category and a status.
struct StatusEntry {
    std::uint32_t Status = 0;
    std::optional<std::int64_t> CategoryResId;
    std::optional<std::int64_t> StatusResId;
    std::optional<std::int64_t> DescriptionResId;
};

struct LicenceEntry {
    std::string AssociatedSeatId;
    std::string LicensePublicId;
    std::string LicenseProductName;
    // Seconds since 1970; the product keeps it in 32 bits.
    std::optional<std::int32_t> LicenseExpirationDate;
    bool ActivatedByZun = false;
    std::optional<std::int64_t> ProductCode;
    std::optional<std::string> SeatName;
    std::optional<std::int64_t> LicenseRenewalPeriod;
    std::optional<std::string> LicenseType;
    std::optional<std::int64_t> LicenseFlags;
    std::optional<std::string> LicenseModelType;
    std::optional<std::string> LicenseModelStatus;
};

// A finished task: the user data the module sent with it, returned unchanged, and its result.
struct TaskResult {
    std::string UserData;
    std::uint32_t Result = 1;
};

// Secret holds the plain recovery material; it is scrambled only on its way out and never logged.
struct RecoveryPasswordEntry {
    std::string Uid;
    std::string DeviceId;
    std::string Index;
    std::string Secret;
};

struct RecoveryDataEntry {
    std::string Uid;
    std::string DeviceId;
    std::string Secret;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
