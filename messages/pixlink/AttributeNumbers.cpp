#include "messages/pixlink/AttributeNumbers.h"

#include <sstream>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

template <typename T>
T ParseHex(const std::string& text) {
    std::istringstream stream(text);
    T value = 0;
    stream >> std::hex >> value;
    return value;
}

}  // namespace

uint32_t ParseHexUInt32(const std::string& text) {
    return ParseHex<uint32_t>(text);
}

int64_t ParseHexInt64(const std::string& text) {
    return ParseHex<int64_t>(text);
}

uint64_t ParseHexUInt64(const std::string& text) {
    return ParseHex<uint64_t>(text);
}

std::optional<int64_t> ParseDecimalInt64(const std::string& text) {
    std::istringstream stream(text);
    int64_t value = 0;
    if (!(stream >> value)) {
        return std::nullopt;
    }
    stream >> std::ws;
    if (!stream.eof()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
