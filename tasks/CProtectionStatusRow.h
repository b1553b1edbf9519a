#pragma once

#include <cstdint>
#include <string>

#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Tasks {

// A row of the protection status log (10044). The status task writes one per problem the product
// reports, or the all-clear row; the module writes its own rows when it starts or fails to.
class CProtectionStatusRow {
public:
    static constexpr int64_t AllClearCategory = 0x071000000000022BLL;
    static constexpr int64_t AllClearText = 0x071000000000021ELL;
    static constexpr int64_t NoStatusResource = -1;

    CProtectionStatusRow(const std::string& instanceUUID, uint32_t productCode, int64_t connectorProductId);

    // Level, category, status text and status resources (symbols 241, 246, 247, 248) after the
    // row's identity (instance, time, product code, connector product id).
    void Add(Zun::Common::Logs::ISymbolContainer& row, int64_t level, int64_t category, int64_t statusText,
             int64_t status) const;
    void AddAllClear(Zun::Common::Logs::ISymbolContainer& row) const;

private:
    std::string m_instanceUUID;
    uint32_t m_productCode;
    int64_t m_connectorProductId;
};

}  // namespace Tasks
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
