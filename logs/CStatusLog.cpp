#include "logs/CStatusLog.h"

#include <stdexcept>

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

CStatusLog::CStatusLog(Kernel::MessageType type) : CStatusLogBase(type, "CStatusLog") {
    const std::string head = "CStatusLog: Message type " + std::to_string(type) + " is not status log";
    if (Descriptor().GetStatusMessageType() != type) {
        throw std::runtime_error(head);
    }
    if (Common::Logs::CLogDescriptorMap::Instance().GetLogDescriptor(Descriptor())->IsLogMultiproduct()) {
        throw std::runtime_error(head + ", but a multi product status log");
    }
}

bool CStatusLog::Equals(const Kernel::IMessage& other) const {
    if (other.GetType() != GetType()) {
        return false;
    }
    return GetRows()->Equals(*dynamic_cast<const CStatusLog&>(other).GetRows());
}

void CStatusLog::Validate() const { ValidateRows(KeyCheck()); }

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
