#pragma once

#include "core/CExceptionHolderImpl.h"
#include "core/CInterModuleException.h"

namespace Zun {
namespace Common {
namespace Module {

// Gives a concrete failure type E its holder.
template <typename E>
class CInterModuleExceptionImpl : public CInterModuleException {
public:
    explicit CInterModuleExceptionImpl(const std::string& text) : CInterModuleException(text) {}

    boost::shared_ptr<CExceptionHolder> GetHolder() const override {
        return boost::shared_ptr<CExceptionHolder>(new CExceptionHolderImpl<E>(static_cast<const E&>(*this)));
    }
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
