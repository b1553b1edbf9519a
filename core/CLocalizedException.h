#pragma once

#include <cstdint>

#include "core/CInterModuleExceptionImpl.h"

namespace Zun {
namespace Common {
namespace Module {

// A task's own failure with a 64-bit result code for the management side.
class CLocalizedException : public CInterModuleExceptionImpl<CLocalizedException> {
public:
    static constexpr uint64_t DefaultCode = 0x100000007ULL;

    explicit CLocalizedException(const std::string& text, uint64_t code = DefaultCode)
        : CInterModuleExceptionImpl<CLocalizedException>(text), m_code(code) {}

    uint64_t GetCode() const { return m_code; }
    void SetCode(uint64_t code) { m_code = code; }

private:
    uint64_t m_code;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
