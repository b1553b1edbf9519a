#include "messages/Base64.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>

#include <iterator>
#include <sstream>
#include <stdexcept>

namespace Zun {
namespace Connectors {
namespace Common {

namespace {

const char* const EncodeFailure = "EncodeBase64: encode_base64 failed to encode data";
const char* const DecodeFailure = "DecodeBase64: decode_base64 failed to decode data";

bool IsSkippedSpace(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Poco's decoder skips more white space than ours, accepts a lone trailing character and keeps
// decoding after padding, so it only ever sees the canonical form built here.
std::string Canonicalize(const std::string& text) {
    std::string canonical;
    canonical.reserve(text.size() + 2);
    for (char c : text) {
        if (c == '=') {
            break;
        }
        if (IsSkippedSpace(c)) {
            continue;
        }
        if (!IsAlphabet(c)) {
            throw std::runtime_error(DecodeFailure);
        }
        canonical += c;
    }
    if (canonical.size() % 4 == 1) {
        throw std::runtime_error(DecodeFailure);
    }
    canonical.append((4 - canonical.size() % 4) % 4, '=');
    return canonical;
}

}  // namespace

std::string EncodeBase64(const std::string& bytes) {
    try {
        std::ostringstream out;
        Poco::Base64Encoder encoder(out);
        encoder.rdbuf()->setLineLength(0);
        encoder.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        encoder.close();
        if (!encoder || !out) {
            throw std::runtime_error(EncodeFailure);
        }
        return out.str();
    } catch (const Poco::Exception&) {
        throw std::runtime_error(EncodeFailure);
    } catch (const std::exception&) {
        throw std::runtime_error(EncodeFailure);
    }
}

std::string DecodeBase64(const std::string& text) {
    std::istringstream in(Canonicalize(text));
    try {
        Poco::Base64Decoder decoder(in);
        return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
    } catch (const Poco::Exception&) {
        throw std::runtime_error(DecodeFailure);
    } catch (const std::exception&) {
        throw std::runtime_error(DecodeFailure);
    }
}

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
