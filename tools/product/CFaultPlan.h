#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// One misbehaviour, applied to the next Count framed requests (pings have their own switch).
struct Fault {
    enum Kind {
        kStatus,        // reply header with Status and no body
        kOversize,      // the real reply, padded with zero bytes to Bytes in all
        kShortMessage,  // a port message with no room for result and length
        kLyingLength,   // a port message announcing more reply bytes than it carries
        kShortPayload,  // a reply payload of 5 bytes, shorter than the reply header
        kDrop,          // the connection is dropped instead of answered
        kHang,          // the real reply, HangMs late
    };
    Kind Type = kStatus;
    std::uint32_t Count = 1;
    std::uint32_t Status = 0;
    std::uint32_t Bytes = 0;
    std::uint32_t HangMs = 0;

    // Throws std::invalid_argument for names it does not know.
    static Kind KindOf(const std::string& name);
    static const char* NameOf(Kind kind);
};

// The faults queued through the control interface, shared by the port threads. Faults apply in
// the order they were added, each to as many requests as its count says.
class CFaultPlan {
public:
    void Add(const Fault& fault);
    void Clear();
    // The fault for the request at hand, if any; counts it.
    std::optional<Fault> Take();
    std::size_t Pending() const;

    // 0 answers pings; anything else is the result word a ping gets instead.
    void SetPingResult(std::uint32_t result);
    std::uint32_t PingResult() const;

private:
    mutable std::mutex m_lock;
    std::deque<Fault> m_faults;
    std::uint32_t m_pingResult = 0;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
