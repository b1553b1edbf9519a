#pragma once

#include <boost/scoped_ptr.hpp>

#include "core/CExceptionHolder.h"

namespace Zun {
namespace Common {
namespace Module {

// Holds a copy of a failure of type E.
template <typename E>
class CExceptionHolderImpl : public CExceptionHolder {
public:
    CExceptionHolderImpl() = default;
    explicit CExceptionHolderImpl(const E& failure) : m_failure(new E(failure)) {}

    void Rethrow() const override {
        if (m_failure) {
            throw E(*m_failure);
        }
    }
    std::string GetText() const override { return m_failure ? m_failure->what() : "Unknown exception"; }

private:
    boost::scoped_ptr<E> m_failure;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
