#include "tools/agent/CConfigurationFile.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const char* const kSpace = " \t\r\n\f\v";

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

char Unescaped(char c) {
    switch (c) {
        case 't':
            return '\t';
        case 'r':
            return '\r';
        case 'n':
            return '\n';
        case 'f':
            return '\f';
        default:
            return c;
    }
}

// The value from at to the end of its line, escapes resolved and continued lines joined; at ends
// past the line's end. A backslash that ends the text stands for nothing.
std::string Value(const std::string& text, std::size_t& at) {
    std::string value;
    while (at < text.size() && !IsLineEnd(text[at])) {
        const char c = text[at++];
        if (c != '\\') {
            value += c;
        } else if (at < text.size() && IsLineEnd(text[at])) {
            const bool crlf = text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n';
            at += crlf ? 2 : 1;
        } else if (at < text.size()) {
            value += Unescaped(text[at++]);
        }
    }
    return value;
}

}  // namespace

std::map<std::string, std::string> CConfigurationFile::Parse(const std::string& text) {
    std::map<std::string, std::string> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        at = text.find_first_not_of(kSpace, at);
        if (at == std::string::npos) {
            break;
        }
        if (text[at] == '#' || text[at] == '!') {
            while (at < text.size() && !IsLineEnd(text[at])) {
                ++at;
            }
            continue;
        }
        const std::size_t keyEnd = text.find_first_of("=:\r\n", at);
        const std::string key =
            Trim(text.substr(at, keyEnd == std::string::npos ? std::string::npos : keyEnd - at));
        at = keyEnd == std::string::npos ? text.size() : keyEnd;
        std::string value;
        if (at < text.size() && (text[at] == '=' || text[at] == ':')) {
            ++at;
            value = Trim(Value(text, at));
        }
        entries[key] = value;
    }
    return entries;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
