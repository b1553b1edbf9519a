#pragma once

namespace Zun {
namespace Platform {

// Where an installed product announces itself: the connector reads it, the product writes it.
constexpr const char* kProductRegistryKey =
    "HKEY_LOCAL_MACHINE\\Software\\VELM\\VELM Full Disk Encryption\\CurrentVersion\\Info";
constexpr const char* kProductVersionValue = "ProductVersion";

}  // namespace Platform
}  // namespace Zun
