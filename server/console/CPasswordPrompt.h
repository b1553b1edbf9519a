#pragma once

#include <string>

namespace Zun {
namespace Server {

// A password for `quil-server user add`, never from the command line (which other users can read
// in /proc): from the terminal without echo, asked twice, or the first line of standard input when
// that is not a terminal (a script's pipe). Throws std::runtime_error when none is given or the two
// differ.
class CPasswordPrompt {
public:
    static std::string Read(const std::string& prompt);

private:
    static bool IsTerminal();
    static std::string ReadHidden(const std::string& prompt);
};

}  // namespace Server
}  // namespace Zun
