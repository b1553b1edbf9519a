#pragma once

#include <cstddef>

namespace Zun {
namespace Platform {

// Anonymous shared memory (memfd) that moves between processes as a file descriptor. Sections are
// sealed against shrinking and growing, so a peer can never pull the pages from under a mapping.
class CSharedSection {
public:
    // A new section of size bytes; -1 on failure.
    static int Create(std::size_t size);
    // Whether fd is a section that can never shrink or grow: a memfd with those seals sealed in.
    static bool IsSealed(int fd);
    // Maps a section, checking first that it is sealed; size receives its length. Null on failure.
    static void* Map(int fd, std::size_t& size, bool writable);
};

}  // namespace Platform
}  // namespace Zun
