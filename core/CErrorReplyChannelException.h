#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// The product answered a request with an error status.
class CErrorReplyChannelException : public std::runtime_error {
public:
    CErrorReplyChannelException(const std::string& text, uint32_t status)
        : std::runtime_error(text), m_status(status) {}

    uint32_t GetStatus() const { return m_status; }

private:
    uint32_t m_status;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
