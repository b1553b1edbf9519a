#pragma once

#include "bus/CMessage.h"

namespace Zun {
namespace Common {
namespace Message {

// A log on the bus: its content can be checked against the log catalogue.
class CLogMessage : public CMessage {
public:
    // Throws a std::runtime_error naming the first violation.
    virtual void Validate() const = 0;
    virtual bool IsValid() const;
};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
