#include "tasks/CProtectionStatusRow.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

CProtectionStatusRow::CProtectionStatusRow(const std::string& instanceUUID, uint32_t productCode,
                                           int64_t connectorProductId)
    : m_instanceUUID(instanceUUID), m_productCode(productCode), m_connectorProductId(connectorProductId) {}

void CProtectionStatusRow::Add(Zun::Common::Logs::ISymbolContainer& row, int64_t level, int64_t category,
                               int64_t statusText, int64_t status) const {
    row.AddInt(241, level).AddUuid(235, m_instanceUUID).AddCurrentTime(242);
    row.AddInt(244, m_productCode).AddResId(245, m_connectorProductId);
    row.AddResId(246, category).AddResId(247, statusText).AddResId(248, status);
}

void CProtectionStatusRow::AddAllClear(Zun::Common::Logs::ISymbolContainer& row) const {
    Add(row, 1, AllClearCategory, AllClearText, NoStatusResource);
}

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
