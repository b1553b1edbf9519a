#include "messages/pixlink/XmlNesting.h"

#include <cstring>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

// Character classes of the reader: the text ends at its first zero byte.
bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool IsNameChar(char c) {
    return c != '\0' && !IsWhite(c) && c != '/' && c != '>' && c != '?';
}
bool IsAttributeNameChar(char c) {
    return IsNameChar(c) && c != '!' && c != '<' && c != '=';
}

void SkipWhite(const char*& p) {
    while (IsWhite(*p)) {
        ++p;
    }
}

void SkipNameChars(const char*& p) {
    while (IsNameChar(*p)) {
        ++p;
    }
}

bool SkipPast(const char*& p, const char* terminator) {
    const char* found = std::strstr(p, terminator);
    if (found == nullptr) {
        return false;
    }
    p = found + std::strlen(terminator);
    return true;
}

// A document type declaration ends at the first ">" outside square brackets.
bool SkipDoctype(const char*& p) {
    size_t brackets = 0;
    for (; *p != '\0'; ++p) {
        if (*p == '[') {
            ++brackets;
        } else if (*p == ']' && brackets > 0) {
            --brackets;
        } else if (*p == '>' && brackets == 0) {
            ++p;
            return true;
        }
    }
    return false;
}

bool SkipAttribute(const char*& p) {
    while (IsAttributeNameChar(*p)) {
        ++p;
    }
    SkipWhite(p);
    if (*p != '=') {
        return false;
    }
    ++p;
    SkipWhite(p);
    const char quote = *p;
    if (quote != '\'' && quote != '"') {
        return false;
    }
    const char* end = std::strchr(p + 1, quote);
    if (end == nullptr) {
        return false;
    }
    p = end + 1;
    SkipWhite(p);
    return true;
}

enum class Tag { Failed, Opened, Complete };

// p is just past "<" of something that is not a closing tag.
Tag SkipTag(const char*& p) {
    if (*p == '?') {
        // The reader looks for the end only after the question mark, so "<?>" does not end itself.
        ++p;
        return SkipPast(p, "?>") ? Tag::Complete : Tag::Failed;
    }
    if (std::strncmp(p, "!--", 3) == 0) {
        p += 3;
        return SkipPast(p, "-->") ? Tag::Complete : Tag::Failed;
    }
    if (std::strncmp(p, "![CDATA[", 8) == 0) {
        p += 8;
        return SkipPast(p, "]]>") ? Tag::Complete : Tag::Failed;
    }
    if (std::strncmp(p, "!DOCTYPE", 8) == 0 && IsWhite(p[8])) {
        p += 9;
        return SkipDoctype(p) ? Tag::Complete : Tag::Failed;
    }
    if (*p == '!') {
        return SkipPast(p, ">") ? Tag::Complete : Tag::Failed;
    }
    const char* name = p;
    SkipNameChars(p);
    if (p == name) {
        return Tag::Failed;
    }
    SkipWhite(p);
    while (IsAttributeNameChar(*p)) {
        if (!SkipAttribute(p)) {
            return Tag::Failed;
        }
    }
    if (*p == '>') {
        ++p;
        return Tag::Opened;
    }
    if (p[0] == '/' && p[1] == '>') {
        p += 2;
        return Tag::Complete;
    }
    return Tag::Failed;
}

bool SkipClosingTag(const char*& p) {
    p += 2;
    SkipNameChars(p);
    SkipWhite(p);
    if (*p != '>') {
        return false;
    }
    ++p;
    return true;
}

// Moves to the next "<" that the reader would act on; false where the reader would fail first.
bool SkipToTag(const char*& p, size_t depth) {
    if (depth == 0) {
        // Outside the root only white space may stand between nodes.
        SkipWhite(p);
    } else {
        p = p + std::strcspn(p, "<");
    }
    return *p == '<';
}

}  // namespace

size_t MeasureElementNesting(const std::string& text, size_t limit) {
    const char* p = text.c_str();
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
    }
    size_t depth = 0;
    size_t deepest = 0;
    while (deepest <= limit && SkipToTag(p, depth)) {
        if (depth > 0 && p[1] == '/') {
            if (!SkipClosingTag(p)) {
                break;
            }
            --depth;
            continue;
        }
        ++p;
        const Tag tag = SkipTag(p);
        if (tag == Tag::Failed) {
            break;
        }
        if (tag == Tag::Opened && ++depth > deepest) {
            deepest = depth;
        }
    }
    return deepest;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
