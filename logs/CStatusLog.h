#pragma once

#include "logs/CStatusLogBase.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

// The status log of a single product: a list of rows checked against the catalogue.
class CStatusLog : public CStatusLogBase {
public:
    explicit CStatusLog(Kernel::MessageType type);

    bool Equals(const Kernel::IMessage& other) const override;
    void Validate() const override;
};

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
