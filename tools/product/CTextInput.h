#pragma once

#include <cstddef>
#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// Text that quil-product takes from a file or a stream: the state file, and control requests that
// must stay off the command line because they carry recovery secrets.
class CTextInput {
public:
    // All of fd up to limit bytes; throws std::runtime_error naming what when it is longer or
    // cannot be read. Does not close fd.
    static std::string ReadAll(int fd, std::size_t limit, const std::string& what);
    // An existing file checked as CTrustedPath::OpenTrustedFile checks it: a regular file, no
    // symlink, of ours or root's, writable by its owner alone.
    static std::string ReadTrustedFile(const std::string& path, std::size_t limit);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
