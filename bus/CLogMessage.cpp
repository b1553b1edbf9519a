#include "bus/CLogMessage.h"

#include <exception>

namespace Zun {
namespace Common {
namespace Message {

bool CLogMessage::IsValid() const {
    try {
        Validate();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace Message
}  // namespace Common
}  // namespace Zun
