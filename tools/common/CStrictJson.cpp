#include "tools/common/CStrictJson.h"

#include <cstdint>
#include <set>
#include <vector>

namespace Zun {
namespace Tools {

namespace {

const std::string kByteOrderMark = "\xEF\xBB\xBF";
const std::string kLargestUnsigned = "18446744073709551615";  // 2^64 - 1
const std::string kLargestNegative = "9223372036854775808";   // -2^63
// Far deeper than any task or state file; each level keeps its path, so an unbounded depth would
// cost memory by the square of it.
const size_t kMaxDepth = 64;
// A \u escape's digits; kNoHex where they are not four hexadecimal digits.
const size_t kHexDigits = 4;
const uint32_t kNoHex = 0xFFFFFFFF;

// Length of the UTF-8 sequence at text[at], or 0 when it is not one.
size_t SequenceLength(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || at + length > text.size() || (length == 2 && lead < 0xC2) || lead > 0xF4) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    const auto second = static_cast<unsigned char>(text[at + 1 < text.size() ? at + 1 : at]);
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
        return 0;
    }
    return length;
}

void CheckUtf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = SequenceLength(text, at);
        if (length == 0) {
            throw CStrictJson::Error("", "not valid UTF-8 at byte " + std::to_string(at));
        }
        at += length;
    }
}

bool Exceeds(const std::string& digits, const std::string& limit) {
    return digits.size() != limit.size() ? digits.size() > limit.size() : digits > limit;
}

// Where the scanner stands in one object or array.
struct Frame {
    bool object = false;
    std::string path;
    std::set<std::string> keys;
    std::string key;        // object: the field whose value comes next
    bool expectKey = true;  // object: a string now is a field name
    size_t index = 0;       // array: the element whose value comes next
};

class CScanner {
public:
    explicit CScanner(const std::string& text) : m_text(text) {}

    std::vector<CStrictJson::Error> Problems() {
        Run();
        return m_problems;
    }

    void Run() {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c == '{' || c == '[') {
                Open(c == '{');
            } else if ((c == '}' || c == ']') && !m_frames.empty()) {
                m_frames.pop_back();
                ++m_at;
            } else if (c == ',' && !m_frames.empty()) {
                Next();
            } else if (c == ':' && !m_frames.empty()) {
                m_frames.back().expectKey = false;
                ++m_at;
            } else if (c == '"') {
                String();
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                Number();
            } else {
                ++m_at;
            }
        }
    }

private:
    std::string ValuePath() const {
        if (m_frames.empty()) {
            return "";
        }
        const Frame& frame = m_frames.back();
        if (!frame.object) {
            return frame.path + "[" + std::to_string(frame.index) + "]";
        }
        return frame.path.empty() ? frame.key : frame.path + "." + frame.key;
    }

    void Open(bool object) {
        if (m_frames.size() >= kMaxDepth) {
            m_problems.emplace_back(ValuePath(),
                                    "nested deeper than " + std::to_string(kMaxDepth) + " levels");
            m_at = m_text.size();
            return;
        }
        Frame frame;
        frame.object = object;
        frame.path = ValuePath();
        m_frames.push_back(frame);
        ++m_at;
    }

    void Next() {
        Frame& frame = m_frames.back();
        frame.object ? void(frame.expectKey = true) : void(++frame.index);
        ++m_at;
    }

    // Names are compared as the parser will see them, escapes decoded: "t\u0061sk" is "task", and
    // a second "task" spelled that way must not replace the first.
    void String() {
        std::string value;
        for (++m_at; m_at < m_text.size() && m_text[m_at] != '"'; ++m_at) {
            if (m_text[m_at] == '\\' && m_at + 1 < m_text.size()) {
                ++m_at;
                Escape(value);
                continue;
            }
            value += m_text[m_at];
        }
        ++m_at;
        if (m_frames.empty() || !m_frames.back().object || !m_frames.back().expectKey) {
            return;
        }
        Frame& frame = m_frames.back();
        frame.key = value;
        if (!frame.keys.insert(value).second) {
            m_problems.emplace_back(ValuePath(), "given more than once");
        }
    }

    // The escape at m_at (past its backslash), decoded onto value; m_at ends on its last character.
    void Escape(std::string& value) {
        static const std::string kShort = "\"\\/bfnrt";
        static const std::string kMeaning = "\"\\/\b\f\n\r\t";
        const char c = m_text[m_at];
        if (c != 'u') {
            const size_t known = kShort.find(c);
            value += known == std::string::npos ? c : kMeaning[known];
            return;
        }
        uint32_t point = HexAt(m_at + 1);
        if (point == kNoHex) {
            value += c;  // malformed: left to the parser, which names it
            return;
        }
        m_at += kHexDigits;
        const bool high = point >= 0xD800 && point <= 0xDBFF;
        const uint32_t low = high && m_text.compare(m_at + 1, 2, "\\u") == 0 ? HexAt(m_at + 3) : kNoHex;
        if (low != kNoHex && low >= 0xDC00 && low <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
            m_at += 2 + kHexDigits;
        }
        // A lone surrogate keeps its own three bytes, which no valid UTF-8 text holds, so it
        // equals only itself.
        AppendUtf8(value, point);
    }

    uint32_t HexAt(size_t at) const {
        if (at + kHexDigits > m_text.size()) {
            return kNoHex;
        }
        uint32_t point = 0;
        for (size_t i = at; i < at + kHexDigits; ++i) {
            const char h = static_cast<char>(m_text[i] | 0x20);
            const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
            if (digit < 0) {
                return kNoHex;
            }
            point = point * 16 + static_cast<uint32_t>(digit);
        }
        return point;
    }

    static void AppendUtf8(std::string& value, uint32_t point) {
        if (point < 0x80) {
            value += static_cast<char>(point);
        } else if (point < 0x800) {
            value += static_cast<char>(0xC0 | (point >> 6));
            value += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            value += static_cast<char>(0xE0 | (point >> 12));
            value += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            value += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            value += static_cast<char>(0xF0 | (point >> 18));
            value += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            value += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            value += static_cast<char>(0x80 | (point & 0x3F));
        }
    }

    void Number() {
        const size_t start = m_at;
        bool integer = true;
        while (m_at < m_text.size() &&
               std::string("+-0123456789.eE").find(m_text[m_at]) != std::string::npos) {
            integer = integer && std::string(".eE").find(m_text[m_at]) == std::string::npos;
            ++m_at;
        }
        const std::string literal = m_text.substr(start, m_at - start);
        const bool negative = literal[0] == '-';
        const std::string digits = literal.substr(negative ? 1 : 0);
        if (integer && Exceeds(digits, negative ? kLargestNegative : kLargestUnsigned)) {
            m_problems.emplace_back(ValuePath(), literal + " is out of range");
        }
    }

    const std::string& m_text;
    size_t m_at = 0;
    std::vector<Frame> m_frames;
    std::vector<CStrictJson::Error> m_problems;
};

}  // namespace

void CStrictJson::Check(const std::string& text) {
    const std::vector<Error> problems = Problems(text);
    if (!problems.empty()) {
        throw problems.front();
    }
}

std::vector<CStrictJson::Error> CStrictJson::Problems(const std::string& text) {
    if (text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0) {
        return {Error("", "starts with a UTF-8 byte order mark")};
    }
    try {
        CheckUtf8(text);
    } catch (const Error& e) {
        return {e};
    }
    return CScanner(text).Problems();
}

std::string CStrictJson::WithoutByteOrderMark(const std::string& text) {
    return text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0 ? text.substr(kByteOrderMark.size())
                                                                       : text;
}

}  // namespace Tools
}  // namespace Zun
