#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// Stored text comes from the product and from whoever sent tasks, so it may hold terminal control
// sequences; printed as it is, it could recolour, move or retitle the reader's terminal, or hide
// lines. Control characters (C0, DEL and the C1 range in UTF-8) are written as visible escapes
// instead; all other bytes pass unchanged.
class CTerminalText {
public:
    // For text output: \n, \r and \t as such, \e for escape, \xNN for the other C0 bytes and DEL,
    // \u0080 to \u009F for the C1 characters.
    static std::string Escaped(const std::string& text);
    // For JSON text, whose writer already escapes C0: DEL and C1 become \u escapes as well, which
    // leaves the JSON's meaning unchanged since these bytes only occur inside strings.
    static std::string JsonEscaped(const std::string& json);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
