#pragma once

#include <cstddef>
#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// Text that quil-product takes from a stream: control requests on standard input, which keeps
// recovery secrets off the command line. Files go through CTrustedPath::ReadTrustedFile.
class CTextInput {
public:
    // All of fd up to limit bytes; throws std::runtime_error naming what when it is longer or
    // cannot be read. Does not close fd.
    static std::string ReadAll(int fd, std::size_t limit, const std::string& what);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
