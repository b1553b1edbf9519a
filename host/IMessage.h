#pragma once

#include <string>

#include "host/MessageType.h"

namespace Zun {
namespace Common {
namespace Kernel {

// Everything that crosses the agent bus.
class IMessage {
public:
    virtual ~IMessage() = default;
    virtual MessageType GetType() const = 0;
    virtual std::string Describe() const = 0;
    virtual bool Equals(const IMessage& other) const = 0;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
