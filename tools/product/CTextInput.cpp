#include "tools/product/CTextInput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Product {

namespace {

constexpr std::size_t kChunk = 65536;

}  // namespace

std::string CTextInput::ReadAll(int fd, std::size_t limit, const std::string& what) {
    std::string text;
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0) {
            return text;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::runtime_error(what + ": cannot read: " + std::strerror(errno));
        }
        if (text.size() + static_cast<std::size_t>(got) > limit) {
            throw std::runtime_error(what + ": larger than " + std::to_string(limit / (1024 * 1024)) +
                                     " MiB");
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
