#include "channel/CQUILChannel.h"

namespace Zun {
namespace Connectors {
namespace QUILConnector {

uint32_t CQUILChannel::GetLastValue(uint32_t id) {
    boost::lock_guard<boost::mutex> guard(m_valuesLock);
    return m_lastValues.insert(std::make_pair(id, UnknownValue)).first->second;
}

void CQUILChannel::SetLastValue(uint32_t id, uint32_t value) {
    boost::lock_guard<boost::mutex> guard(m_valuesLock);
    m_lastValues[id] = value;
}

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Zun
