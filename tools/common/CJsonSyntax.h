#pragma once

#include <stdexcept>
#include <string>

namespace Zun {
namespace Tools {

// Where a text stops being JSON, for messages a person can act on: Poco's parser says what it
// expected but not where, and on a bare scalar or an empty text it reports its own inner state.
// Checks RFC 8259's grammar only; values are left to the parser.
class CJsonSyntax {
public:
    // Throws std::invalid_argument "<problem> at column N" (1-based, in bytes) for the first fault.
    static void Check(const std::string& text);
    // What the top level of a valid text is: "an object", "an array", "a string", "a number",
    // "true", "false" or "null".
    static std::string KindOf(const std::string& text);
};

}  // namespace Tools
}  // namespace Zun
