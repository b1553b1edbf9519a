#pragma once

#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

class IInstanceUUIDProvider {
public:
    // The agent instance identifier as UUID text.
    virtual std::string GetInstanceUUID() = 0;
    virtual ~IInstanceUUIDProvider() = default;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
