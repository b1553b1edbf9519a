#pragma once

#include <set>
#include <string>

#include "host/CLogDescriptor.h"
#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Common {
namespace Logs {

// The checks that status logs and event logs run on a symbol container against the catalogue.
// Each throws std::runtime_error on the first violation. `where` opens the message of a violation
// ("CStatusLog [Name][Row: 0" or "CEventLog [Name"); `prefix` opens the messages that name no row.
class CLogValidator {
public:
    CLogValidator(const CLogDescriptor::SymbolList& symbols, bool deltaSide, std::string prefix)
        : m_symbols(symbols), m_deltaSide(deltaSide), m_prefix(std::move(prefix)) {}

    int IdOf(const CSymbolDescriptor& symbol) const {
        return m_deltaSide ? symbol.GetDeltaSymbolType() : symbol.GetEventSymbolType();
    }

    // Returns the ids of the container.
    std::set<int> CheckRepeats(const ISymbolContainer& container, const std::string& where) const;
    void CheckMandatory(const std::set<int>& seen, const CLogDescriptor::SymbolList& mandatory,
                        const std::string& where) const;
    void CheckDataTypes(const ISymbolContainer& container, const std::string& where) const;
    void CheckSuperfluous(const std::set<int>& seen, const std::string& where) const;

    static void Fail(const std::string& where, const std::string& what);

private:
    const CLogDescriptor::SymbolList& m_symbols;
    bool m_deltaSide;
    std::string m_prefix;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
