#pragma once

namespace Zun {
namespace Common {
namespace Logs {

// A stored symbol value; its code tells the container which SubType it is.
class BaseType {
public:
    virtual ~BaseType() = default;
    virtual int GetTypeCode() const = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
