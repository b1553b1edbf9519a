#pragma once

#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). An empty input gives an empty
// output. Throws std::runtime_error "EncodeBase64: encode_base64 failed to encode data".
std::string EncodeBase64(const std::string& bytes);

// Tab, line feed, carriage return and space are skipped; the first "=" ends the data, so padding is
// optional. Any other character outside the alphabet, or a last group of a single character, throws
// std::runtime_error "DecodeBase64: decode_base64 failed to decode data". The text is never quoted in
// the failure because it may be a recovery secret.
std::string DecodeBase64(const std::string& text);

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
