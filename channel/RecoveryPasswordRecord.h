#pragma once

#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// A recovery password of one device. Value is the Base64 text as the product sent it; it is secret
// and must never reach a log or an exception text.
struct RecoveryPasswordRecord {
    std::string Uid;
    std::string DeviceId;
    std::string Index;
    std::string Value;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
