#pragma once

#include <boost/shared_ptr.hpp>
#include <stdexcept>
#include <string>

#include "core/CExceptionHolder.h"

namespace Zun {
namespace Common {
namespace Module {

// A failure that may cross module boundaries: it can hand out a holder with a copy of itself.
class CInterModuleException : public std::runtime_error {
public:
    explicit CInterModuleException(const std::string& text) : std::runtime_error(text) {}
    virtual boost::shared_ptr<CExceptionHolder> GetHolder() const = 0;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
