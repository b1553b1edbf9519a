#include "bus/CQUILProcessRecoveryDataRequest.h"

#include <google/protobuf/util/message_differencer.h>

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

bool CQUILProcessRecoveryDataRequest::Equals(const Kernel::IMessage& other) const {
    if (other.GetType() != Type) {
        return false;
    }
    const CQUILProcessRecoveryDataRequest* request = dynamic_cast<const CQUILProcessRecoveryDataRequest*>(&other);
    return request != nullptr && google::protobuf::util::MessageDifferencer::Equals(m_data, request->m_data);
}

CQUILProcessRecoveryDataRequest::Data& CQUILProcessRecoveryDataRequest::MutableFDERecoveryData() {
    CheckWritable();
    return m_data;
}

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
