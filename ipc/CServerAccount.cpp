#include "ipc/CServerAccount.h"

#include <cctype>
#include <sstream>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

namespace {

constexpr std::uint8_t kSidRevision = 1;
// A SID holds at most 15 sub-authorities, and its authority is a 48-bit number.
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr std::uint64_t kMaxAuthority = (std::uint64_t{1} << 48) - 1;
constexpr std::size_t kAuthorityBytes = 6;

// One decimal field of the text form, no sign, no empty field, no overflow past `limit`.
bool Number(const std::string& field, std::uint64_t limit, std::uint64_t& value) {
    if (field.empty() || field.size() > 20) {
        return false;
    }
    value = 0;
    for (char c : field) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (digit > limit || value > (limit - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

CServerAccount::CServerAccount() {
    Parse(kLocalSystem);
}

bool CServerAccount::Parse(const std::string& text) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    for (std::string field; std::getline(stream, field, '-');) {
        fields.push_back(field);
    }
    if (!text.empty() && text.back() == '-') {
        return false;
    }
    std::uint64_t revision = 0;
    std::uint64_t authority = 0;
    if (fields.size() < 3 || fields.size() > 3 + kMaxSubAuthorities || fields[0] != "S" ||
        !Number(fields[1], kSidRevision, revision) || revision != kSidRevision ||
        !Number(fields[2], kMaxAuthority, authority)) {
        return false;
    }
    std::vector<std::uint8_t> sid = {kSidRevision, static_cast<std::uint8_t>(fields.size() - 3)};
    for (std::size_t i = 0; i < kAuthorityBytes; ++i) {
        sid.push_back(static_cast<std::uint8_t>(authority >> (8 * (kAuthorityBytes - 1 - i))));
    }
    for (std::size_t i = 3; i < fields.size(); ++i) {
        std::uint64_t sub = 0;
        if (!Number(fields[i], UINT32_MAX, sub)) {
            return false;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            sid.push_back(static_cast<std::uint8_t>(sub >> shift));
        }
    }
    m_text = text;
    m_sid = sid;
    return true;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
