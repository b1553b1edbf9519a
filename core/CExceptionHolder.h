#pragma once

#include <string>

namespace Zun {
namespace Common {
namespace Module {

// Carries a failure across module boundaries so that the receiving side can rethrow it.
class CExceptionHolder {
public:
    virtual void Rethrow() const = 0;
    virtual ~CExceptionHolder() = default;
    virtual std::string GetText() const = 0;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
