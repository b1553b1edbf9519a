#pragma once

#include <string>

namespace Zun {
namespace Server {

// What the link reads from an agent's certificate once TLS has verified it.
class CPeerCertificate {
public:
    // The serial of the first certificate in the PEM text, in upper-case hex without leading zeros
    // (as the CA records it); throws std::runtime_error when the text holds no certificate.
    static std::string SerialOf(const std::string& pem);
};

}  // namespace Server
}  // namespace Zun
