#pragma once

#include <string>

namespace Zun {
namespace Server {

// The few pieces of HTML the console's pages are made of. Every text that comes from the fleet, an
// account or a request goes through Escape (or Query, inside a link), so that none of it is read
// as markup.
class CHtml {
public:
    static std::string Escape(const std::string& text);
    // A value percent-encoded for a query string, then escaped for the attribute it sits in.
    static std::string Query(const std::string& value);
    static std::string Cell(const std::string& text);
    static std::string Hidden(const std::string& name, const std::string& value);
    static std::string Link(const std::string& href, const std::string& text);
    // <select> with the options, the given one selected; an empty first option means "any".
    static std::string Choice(const std::string& name, const std::string& label, const std::string& selected,
                              const std::initializer_list<const char*>& options);
};

}  // namespace Server
}  // namespace Zun
