#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The account that must serve the product's ports, as a binary security identifier. The clients
// hand it to the kernel on connect, so that a port created under the product's name by anyone else
// is refused before a byte is sent. LocalSystem unless configured otherwise.
class CServerAccount {
public:
    static constexpr const char* kLocalSystem = "S-1-5-18";

    CServerAccount();

    // Reads the text form S-1-<authority>-<sub>...; false, leaving the account as it was, for
    // anything else.
    bool Parse(const std::string& text);

    const std::string& Text() const { return m_text; }
    // The binary form the NT port calls take; valid while the account lives unchanged.
    void* Sid() const { return const_cast<std::uint8_t*>(m_sid.data()); }
    const std::vector<std::uint8_t>& Bytes() const { return m_sid; }

private:
    std::string m_text;
    std::vector<std::uint8_t> m_sid;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
