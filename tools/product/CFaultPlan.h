#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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
    // Empty: any request. Otherwise only requests of this name as the product logs them
    // ("function WIPE_FDE_ENCRYPTION_PASSWORD", "command 112"), so that a test can catch one kind of
    // request while the module's other queries come and go around it.
    std::string Request;

    // Throws std::invalid_argument for names it does not know.
    static Kind KindOf(const std::string& name);
    static const char* NameOf(Kind kind);
};

// The faults queued through the control interface, shared by the port threads. A request takes the
// first queued fault that applies to it; each fault applies to as many requests as its count says.
class CFaultPlan {
public:
    void Add(const Fault& fault);
    void Clear();
    // The fault for the request at hand, if any; counts it. name gives the request's name, asked for
    // only while a fault for one kind of request is queued; without it such faults never apply.
    std::optional<Fault> Take(const std::function<std::string()>& name = {});
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
