#pragma once

#include <cstdint>

#include "platform/ProductRegistry.h"

namespace Zun {
namespace Tools {
namespace Product {

// Where an installed product announces itself to the connector module.
constexpr const char* kRegistryKey = Platform::kProductRegistryKey;
constexpr const char* kRegistryValue = Platform::kProductVersionValue;
constexpr const char* kDefaultProductVersion = "7.4.0";

// Commands of the product protocol, after the command header.
enum Command : std::uint32_t {
    kCommandXmlDocument = 2,
    kCommandGetStatus = 33,
    kCommandImportConfiguration = 109,
    kCommandExportConfiguration = 110,
    kCommandGetTaskStatus = 112,
    kCommandGetLicense = 138,
    kCommandSendAgentUuid = 154,
};

constexpr std::uint32_t kCommandHeaderSize = 12;
constexpr std::uint32_t kReplyHeaderSize = 12;
constexpr std::uint32_t kPluginId = 0x1000600;

// Reply statuses of this product. Error codes follow the Windows error numbers the real product
// uses for the same situations.
constexpr std::uint32_t kStatusSuccess = 0;
constexpr std::uint32_t kStatusUnsupported = 50;
constexpr std::uint32_t kStatusBadRequest = 87;

// Port message types.
constexpr std::uint32_t kMessagePing = 0;
constexpr std::uint32_t kMessageRequest = 3;

// Broadcast values the module watches, and what each announces.
constexpr unsigned kValueStatus = 2;
constexpr unsigned kValueLicences = 4;
constexpr unsigned kValueTaskResults = 8;
constexpr unsigned kValueRecoveryData = 9;
constexpr unsigned kValueCount = 10;

// Task results as the product reports them: accepted, finished, anything else failed.
constexpr std::uint32_t kResultAccepted = 0;
constexpr std::uint32_t kResultFinished = 1;

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
