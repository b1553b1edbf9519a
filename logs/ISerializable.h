#pragma once

#include <string>

namespace Zun {
namespace Common {
namespace Logs {

class ISerializable {
public:
    virtual ~ISerializable() = default;
    virtual bool Serialize(std::string& out) const = 0;
    virtual bool Deserialize(const std::string& bytes) = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
