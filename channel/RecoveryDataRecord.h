#pragma once

#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// Recovery data of one device. Value is the Base64 text as the product sent it; it is secret and must
// never reach a log or an exception text.
struct RecoveryDataRecord {
    std::string Uid;
    std::string DeviceId;
    std::string Value;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
