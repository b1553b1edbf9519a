#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace Zun {
namespace IpcTest {

// What the test product does, chosen by the message type of a request.
enum TestCommand : std::uint32_t {
    kEcho = 1,        // replies with the request bytes
    kSized = 2,       // replies with as many pattern bytes as the first request word says
    kReport = 3,      // replies with a ReportField record of how the request travelled
    kDeferred = 4,    // answered only when the next request arrives, before that one
    kDropFirst = 5,   // drops the first connection, answers kReport on later ones
    kDropAlways = 6,  // drops the connection
    kResultWord = 7,  // replies with the first request word as result word
    kMalformed = 8,   // replies with the malformed reply the first request word names
};

enum ReportField : std::size_t {
    kDataLength,
    kDataInfoOffset,
    kEntry0Size,
    kEntry1Size,
    kCapacityField,
    kViewSize,
    kViewFlags,
    kField44,
    kRequestLength,
    kRequestChecksum,
    kAcceptedConnections,
    kDatagrams,
    kReportFields
};

enum MalformedReply : std::uint32_t {
    kShortMessage,        // data length 4: no room for result and length
    kLyingLength,         // announces 600 (LPC) or 60000 (ALPC) inline bytes, carries 8
    kViewTooSmall,        // announces 70000 bytes in a view of 66000
    kLargeWithoutView,    // announces 65488 bytes, sends no view
    kViewWithoutFlag,     // the view lacks flag 0x40000
    kInconsistentHeader,  // total length disagrees with the data length
};

// Bytes that differ from one position to the next, and a checksum that tells two byte runs apart.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 7);
std::uint32_t Checksum(const std::uint8_t* bytes, std::size_t size);
std::uint32_t FirstWord(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words);

}  // namespace IpcTest
}  // namespace Zun
