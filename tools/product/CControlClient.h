#pragma once

#include <sys/types.h>

#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// The client side of the control socket: sends one line and waits, with a deadline, for its answer.
class CControlClient {
public:
    // False with error when the product cannot be reached or does not answer within timeoutMs.
    static bool Exchange(const std::string& path, const std::string& line, std::string& answer,
                         std::string& error, int timeoutMs = 10000);
    // A Unix socket address cannot hold a longer path.
    static bool FitsAddress(const std::string& path);
    // Whether the process at the other end of a connected Unix socket runs as us or root: requests
    // carry recovery secrets, and answers decide what the product does.
    static bool IsTrustedPeer(int fd, uid_t& peer);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
