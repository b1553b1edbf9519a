#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The product answered with an error status; the channel adapter turns it into
// CErrorReplyChannelException for the tasks.
class CPixlinkErrorReplyException : public std::runtime_error {
public:
    CPixlinkErrorReplyException(const std::string& text, uint32_t status)
        : std::runtime_error(text), m_status(status) {}

    uint32_t GetStatus() const { return m_status; }

private:
    uint32_t m_status;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
