#include "server/console/CHtml.h"

#include <Poco/URI.h>

namespace Zun {
namespace Server {

std::string CHtml::Escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string CHtml::Query(const std::string& value) {
    std::string encoded;
    Poco::URI::encode(value, "!#$&'()*+,/:;=?@[]%\"<> ", encoded);
    return Escape(encoded);
}

std::string CHtml::Cell(const std::string& text) {
    return "<td>" + Escape(text) + "</td>";
}

std::string CHtml::Hidden(const std::string& name, const std::string& value) {
    return "<input type=\"hidden\" name=\"" + Escape(name) + "\" value=\"" + Escape(value) + "\">";
}

std::string CHtml::Link(const std::string& href, const std::string& text) {
    return "<a href=\"" + Escape(href) + "\">" + Escape(text) + "</a>";
}

std::string CHtml::Choice(const std::string& name, const std::string& label, const std::string& selected,
                          const std::initializer_list<const char*>& options) {
    std::string html = "<label>" + Escape(label) + " <select name=\"" + Escape(name) + "\">";
    for (const char* option : options) {
        const std::string value(option);
        html += "<option value=\"" + Escape(value) + "\"" + (value == selected ? " selected" : "") + ">" +
                Escape(value.empty() ? "any" : value) + "</option>";
    }
    return html + "</select></label>";
}

}  // namespace Server
}  // namespace Zun
