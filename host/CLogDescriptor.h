#pragma once

#include <boost/shared_ptr.hpp>
#include <vector>

#include "host/CSymbolDescriptor.h"

namespace Zun {
namespace Common {
namespace Logs {

// The symbols of one log, on its event side and on its delta side.
class CLogDescriptor {
public:
    typedef boost::shared_ptr<const CSymbolDescriptor> SymbolPtr;
    typedef std::vector<SymbolPtr> SymbolList;

    CLogDescriptor(SymbolList symbols, bool multiProduct);

    const SymbolList& GetEventSymbols() const { return m_symbols; }
    const SymbolList& GetDeltaSymbols() const { return m_symbols; }
    SymbolList GetEventSymbolsByTag(Tags tag) const { return ByTag(tag); }
    SymbolList GetDeltaSymbolsByTag(Tags tag) const { return ByTag(tag); }
    // Finds a symbol by its event or its delta id; throws std::out_of_range when the log has none.
    SymbolPtr GetSymbolDescriptor(int id) const;
    bool IsLogMultiproduct() const { return m_multiProduct; }

private:
    SymbolList ByTag(Tags tag) const;

    SymbolList m_symbols;
    bool m_multiProduct;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
