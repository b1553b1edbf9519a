#include "host/CLogDescriptor.h"

#include <stdexcept>
#include <string>

namespace Zun {
namespace Common {
namespace Logs {

CLogDescriptor::CLogDescriptor(SymbolList symbols, bool multiProduct)
    : m_symbols(std::move(symbols)), m_multiProduct(multiProduct) {}

CLogDescriptor::SymbolPtr CLogDescriptor::GetSymbolDescriptor(int id) const {
    for (const SymbolPtr& symbol : m_symbols) {
        if (symbol->GetEventSymbolType() == id || symbol->GetDeltaSymbolType() == id) {
            return symbol;
        }
    }
    throw std::out_of_range("Log has no symbol " + std::to_string(id));
}

CLogDescriptor::SymbolList CLogDescriptor::ByTag(Tags tag) const {
    SymbolList tagged;
    for (const SymbolPtr& symbol : m_symbols) {
        if (symbol->HasTag(tag)) {
            tagged.push_back(symbol);
        }
    }
    return tagged;
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
