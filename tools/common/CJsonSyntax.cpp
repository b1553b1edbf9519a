#include "tools/common/CJsonSyntax.h"

#include <cstring>

namespace Zun {
namespace Tools {

namespace {

// Deeper than this is refused by CStrictJson already; the bound keeps the recursion small.
const int kMaxDepth = 64;

class CValidator {
public:
    explicit CValidator(const std::string& text) : m_text(text) {}

    void Document() {
        Value(0);
        SkipSpace();
        if (m_at < m_text.size()) {
            Fail("unexpected text after the value");
        }
    }

    std::string Kind() {
        SkipSpace();
        const char c = m_at < m_text.size() ? m_text[m_at] : '\0';
        return c == '{'   ? "an object"
               : c == '[' ? "an array"
               : c == '"' ? "a string"
               : c == 't' ? "true"
               : c == 'f' ? "false"
               : c == 'n' ? "null"
                          : "a number";
    }

private:
    [[noreturn]] void Fail(const std::string& problem) const {
        const std::string where = m_at >= m_text.size() ? "at the end of the text (column " : "at column ";
        throw std::invalid_argument(problem + " " + where + std::to_string(m_at + 1) +
                                    (m_at >= m_text.size() ? ")" : ""));
    }

    void SkipSpace() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) != nullptr &&
               m_text[m_at] != '\0') {
            ++m_at;
        }
    }

    void Expect(char c, const char* what) {
        SkipSpace();
        if (m_at >= m_text.size() || m_text[m_at] != c) {
            Fail(std::string("expected ") + what);
        }
        ++m_at;
    }

    void Value(int depth) {
        SkipSpace();
        if (m_at >= m_text.size()) {
            Fail("expected a value");
        }
        if (depth > kMaxDepth) {
            Fail("nested too deep");
        }
        const char c = m_text[m_at];
        if (c == '{') {
            Members(depth);
        } else if (c == '[') {
            Elements(depth);
        } else if (c == '"') {
            String();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            Number();
        } else {
            Literal();
        }
    }

    void Members(int depth) {
        ++m_at;
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == '}') {
            ++m_at;
            return;
        }
        for (;;) {
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '"') {
                Fail("expected a field name in quotes");
            }
            String();
            Expect(':', "':' after the field name");
            Value(depth + 1);
            SkipSpace();
            if (m_at < m_text.size() && m_text[m_at] == ',') {
                ++m_at;
                continue;
            }
            Expect('}', "',' or '}' after the field's value");
            return;
        }
    }

    void Elements(int depth) {
        ++m_at;
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == ']') {
            ++m_at;
            return;
        }
        for (;;) {
            Value(depth + 1);
            SkipSpace();
            if (m_at < m_text.size() && m_text[m_at] == ',') {
                ++m_at;
                continue;
            }
            Expect(']', "',' or ']' after an element");
            return;
        }
    }

    void String() {
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"') {
                ++m_at;
                return;
            }
            if (c < 0x20) {
                Fail("a control character in a string");
            }
            if (c == '\\') {
                ++m_at;
                if (m_at >= m_text.size() || std::strchr("\"\\/bfnrtu", m_text[m_at]) == nullptr ||
                    m_text[m_at] == '\0') {
                    Fail("an unknown escape in a string");
                }
            }
        }
        Fail("a string that is not closed");
    }

    void Digits() {
        const size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
            ++m_at;
        }
        if (m_at == start) {
            Fail("expected a digit");
        }
    }

    void Number() {
        if (m_text[m_at] == '-') {
            ++m_at;
        }
        Digits();
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            Digits();
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-')) {
                ++m_at;
            }
            Digits();
        }
    }

    void Literal() {
        for (const char* word : {"true", "false", "null"}) {
            if (m_text.compare(m_at, std::strlen(word), word) == 0) {
                m_at += std::strlen(word);
                return;
            }
        }
        Fail("unexpected '" + std::string(1, m_text[m_at]) + "'");
    }

    const std::string& m_text;
    size_t m_at = 0;
};

}  // namespace

void CJsonSyntax::Check(const std::string& text) {
    CValidator(text).Document();
}

std::string CJsonSyntax::KindOf(const std::string& text) {
    return CValidator(text).Kind();
}

}  // namespace Tools
}  // namespace Zun
