#include "bus/CTaskHandOver.h"

namespace Zun {
namespace Common {
namespace Message {

bool CTaskHandOver::Equals(const Kernel::IMessage& other) const {
    const CTaskHandOver* handOver = dynamic_cast<const CTaskHandOver*>(&other);
    return handOver != nullptr && handOver->m_task == m_task;
}

}  // namespace Message
}  // namespace Common
}  // namespace Zun
