#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace MessagesTest {

typedef std::vector<uint8_t> Bytes;

inline void PutUInt32(Bytes& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

inline std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline Bytes Header(uint32_t first, uint32_t second, uint32_t third, const std::string& body) {
    Bytes bytes;
    PutUInt32(bytes, first);
    PutUInt32(bytes, second);
    PutUInt32(bytes, third);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

// A reply payload as the channel hands it over: {12, status 0, body length} and the body.
inline Bytes Reply(const std::string& body, uint32_t bodyLength) {
    return Header(12, 0, bodyLength, body);
}
inline Bytes Reply(const std::string& body) {
    return Reply(body, static_cast<uint32_t>(body.size()));
}

// A request payload: {12, plug-in id, command} and the body.
inline Bytes Request(uint32_t command, const std::string& body = std::string()) {
    return Header(12, 0x1000600, command, body);
}

// The text of the E that action throws, or "no failure".
template <typename E, typename Action>
std::string FailureText(Action action) {
    try {
        action();
    } catch (const E& e) {
        return e.what();
    }
    return "no failure";
}

}  // namespace MessagesTest
