#include "logs/CMultiSymbolContainer.h"

#include <algorithm>
#include <stdexcept>

#include "logs/CSymbolContainer.h"

namespace Zun {
namespace Common {
namespace Logs {

void CMultiSymbolContainer::Lock() {
    for (const RowPtr& row : m_rows) {
        row->Lock();
    }
}

void CMultiSymbolContainer::Unlock() {
    for (const RowPtr& row : m_rows) {
        row->Unlock();
    }
}

IMultiSymbolContainer::RowPtr CMultiSymbolContainer::AddNewRow() {
    RowPtr row(new CSymbolContainer());
    m_rows.push_back(row);
    return row;
}

IMultiSymbolContainer::RowPtr CMultiSymbolContainer::GetRow(size_t index) const {
    if (index >= m_rows.size()) {
        throw std::out_of_range("invalid vector subscript");
    }
    return m_rows[index];
}

void CMultiSymbolContainer::Swap(IMultiSymbolContainer& other) {
    CMultiSymbolContainer& rows = dynamic_cast<CMultiSymbolContainer&>(other);
    m_rows.swap(rows.m_rows);
}

bool CMultiSymbolContainer::Equals(const IMultiSymbolContainer& other) const {
    if (other.GetRowCount() != m_rows.size()) {
        return false;
    }
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (other.GetRow(i) != m_rows[i]) {
            return false;
        }
    }
    return true;
}

void CMultiSymbolContainer::SortAndTruncate(size_t maximum, const RowLess& less) {
    if (less.empty()) {
        throw boost::bad_function_call();  // an empty comparison is a caller error, even for short lists
    }
    std::sort(m_rows.begin(), m_rows.end(), [&less](const RowPtr& a, const RowPtr& b) { return less(a, b); });
    m_rows.resize(std::min(maximum, m_rows.size()));
}

boost::shared_ptr<IMultiSymbolContainer> CMultiSymbolContainer::Clone() const {
    boost::shared_ptr<CMultiSymbolContainer> copy(new CMultiSymbolContainer());
    for (const RowPtr& row : m_rows) {
        copy->m_rows.push_back(row->Clone());
    }
    return copy;
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
