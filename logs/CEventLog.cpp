#include "logs/CEventLog.h"

#include <stdexcept>

#include "host/CLogDescriptorMap.h"
#include "logs/CLogValidator.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

using Common::Logs::CLogDescriptorMap;

CEventLog::CEventLog(Kernel::MessageType type) : m_type(type), m_container(new Common::Logs::CSymbolContainer()) {
    const auto& descriptor = CLogDescriptorMap::Instance().GetMessageDescriptor(type);
    if (type != descriptor.GetEventMessageType() && type != descriptor.GetDeltaMessageType()) {
        throw std::runtime_error("CEventLog: Message type " + std::to_string(type) + " is not event or delta log");
    }
}

std::string CEventLog::LogName() const {
    const auto& descriptor = CLogDescriptorMap::Instance().GetMessageDescriptor(m_type);
    return CLogDescriptorMap::LogTypeName(descriptor.IsDelta(m_type) ? descriptor.GetDeltaLogType()
                                                                     : descriptor.GetEventLogType());
}

std::string CEventLog::Describe() const { return "EventLog_" + LogName(); }

bool CEventLog::Equals(const Kernel::IMessage& other) const {
    if (other.GetType() != m_type) {
        return false;
    }
    return m_container->Equals(*dynamic_cast<const CEventLog&>(other).m_container);
}

void CEventLog::SetReadOnly() {
    CLogMessage::SetReadOnly();
    m_container->Lock();
}

void CEventLog::Validate() const {
    const CLogDescriptorMap& map = CLogDescriptorMap::Instance();
    const bool delta = map.GetMessageDescriptor(m_type).IsDelta(m_type);
    const CLogDescriptorMap::LogPtr log = map.GetLogDescriptor(m_type);
    const std::string prefix = "CEventLog [" + LogName();
    const Common::Logs::CLogValidator validator(delta ? log->GetDeltaSymbols() : log->GetEventSymbols(), delta,
                                                prefix);
    const std::set<int> seen = validator.CheckRepeats(*m_container, prefix);
    validator.CheckMandatory(seen,
                             delta ? log->GetDeltaSymbolsByTag(Common::Logs::TAG_MANDATORY)
                                   : log->GetEventSymbolsByTag(Common::Logs::TAG_MANDATORY),
                             prefix);
    validator.CheckDataTypes(*m_container, prefix);
    validator.CheckSuperfluous(seen, prefix);
}

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
