#pragma once

#include <vector>

#include "logs/IMultiSymbolContainer.h"

namespace Zun {
namespace Common {
namespace Logs {

class CMultiSymbolContainer : public IMultiSymbolContainer {
public:
    void Lock() override;
    void Unlock() override;
    void AddRow(const RowPtr& row) override { m_rows.push_back(row); }
    RowPtr AddNewRow() override;
    // Throws std::out_of_range "invalid vector subscript" past the last row.
    RowPtr GetRow(size_t index) const override;
    size_t GetRowCount() const override { return m_rows.size(); }
    void Swap(IMultiSymbolContainer& other) override;
    bool Equals(const IMultiSymbolContainer& other) const override;
    void SortAndTruncate(size_t maximum, const RowLess& less) override;
    boost::shared_ptr<IMultiSymbolContainer> Clone() const override;

private:
    std::vector<RowPtr> m_rows;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
