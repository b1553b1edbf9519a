#include "logs/CStatusLogBase.h"

#include "logs/CLogValidator.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

using Common::Logs::CLogDescriptorMap;
using Common::Logs::CLogValidator;

CStatusLogBase::CStatusLogBase(Kernel::MessageType type, std::string className)
    : m_type(type), m_className(std::move(className)), m_rows(new Common::Logs::CMultiSymbolContainer()) {}

const Common::Logs::CLogMessageDescriptor& CStatusLogBase::Descriptor() const {
    return CLogDescriptorMap::Instance().GetMessageDescriptor(m_type);
}

std::string CStatusLogBase::Describe() const {
    return "StatusLog_" + CLogDescriptorMap::LogTypeName(Descriptor().GetDeltaLogType());
}

void CStatusLogBase::SetReadOnly() {
    CLogMessage::SetReadOnly();
    m_rows->Lock();
}

std::string CStatusLogBase::Prefix() const {
    return m_className + " [" + CLogDescriptorMap::LogTypeName(Descriptor().GetDeltaLogType());
}

std::string CStatusLogBase::Where(const std::string& prefix, size_t row) {
    return prefix + "][Row: " + std::to_string(row);
}

void CStatusLogBase::ValidateRows(const KeyCheck& checkKeys) const {
    const CLogDescriptorMap::LogPtr log = CLogDescriptorMap::Instance().GetLogDescriptor(m_type);
    const std::string prefix = Prefix();
    const CLogValidator validator(log->GetDeltaSymbols(), true, prefix);
    const auto mandatory = log->GetDeltaSymbolsByTag(Common::Logs::TAG_MANDATORY);
    for (size_t r = 0; r < m_rows->GetRowCount(); ++r) {
        const Common::Logs::ISymbolContainer& row = *m_rows->GetRow(r);
        const std::string where = Where(prefix, r);
        const std::set<int> seen = validator.CheckRepeats(row, where);
        validator.CheckDataTypes(row, where);
        validator.CheckMandatory(seen, mandatory, where);
        if (checkKeys) {
            checkKeys(seen, where);
        }
        validator.CheckSuperfluous(seen, where);
    }
}

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
