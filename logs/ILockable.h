#pragma once

namespace Zun {
namespace Common {
namespace Logs {

// Write protection that a read-only message puts on its content.
class ILockable {
public:
    virtual ~ILockable() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
