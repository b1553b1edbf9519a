#include "bus/CQUILRequest.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

bool CQUILRequest::Equals(const Kernel::IMessage& other) const {
    if (other.GetType() != Type) {
        return false;
    }
    const CQUILRequest* request = dynamic_cast<const CQUILRequest*>(&other);
    return request != nullptr && request->m_requestKind == m_requestKind;
}

void CQUILRequest::SetRequestKind(uint32_t requestKind) {
    CheckWritable();
    m_requestKind = requestKind;
}

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
