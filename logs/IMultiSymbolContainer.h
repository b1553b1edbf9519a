#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <cstddef>

#include "logs/ILockable.h"
#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Common {
namespace Logs {

// The rows of a status log, each a symbol container.
class IMultiSymbolContainer : public ILockable {
public:
    typedef boost::shared_ptr<ISymbolContainer> RowPtr;
    typedef boost::function<bool(const RowPtr&, const RowPtr&)> RowLess;

    virtual void AddRow(const RowPtr& row) = 0;
    virtual RowPtr AddNewRow() = 0;
    virtual RowPtr GetRow(size_t index) const = 0;
    virtual size_t GetRowCount() const = 0;
    virtual void Swap(IMultiSymbolContainer& other) = 0;
    // True when both hold the very same row objects in the same order.
    virtual bool Equals(const IMultiSymbolContainer& other) const = 0;
    virtual void SortAndTruncate(size_t maximum, const RowLess& less) = 0;
    virtual boost::shared_ptr<IMultiSymbolContainer> Clone() const = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
