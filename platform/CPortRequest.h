#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Zun {
namespace Platform {

// One request as a server of the substitute receives it: the port message and, for ALPC, the bytes
// of a view sent along; for LPC, the bytes of its first data entry, which the server reads from the
// client's memory before it hands the request out. Other data entries are written through the server.
class CPortRequest {
public:
    CPortRequest() = default;
    CPortRequest(std::uint64_t connection, std::uint32_t messageId, bool wantsReply,
                 std::vector<std::uint8_t> message)
        : m_connection(connection),
          m_messageId(messageId),
          m_wantsReply(wantsReply),
          m_message(std::move(message)) {}

    std::uint64_t Connection() const { return m_connection; }
    std::uint32_t MessageId() const { return m_messageId; }
    bool WantsReply() const { return m_wantsReply; }
    const std::vector<std::uint8_t>& Message() const { return m_message; }
    const std::vector<std::uint8_t>& View() const { return m_view; }
    std::uint32_t ViewFlags() const { return m_viewFlags; }
    void SetView(std::vector<std::uint8_t> view, std::uint32_t flags);
    const std::vector<std::uint8_t>& EntryData() const { return m_entryData; }
    void SetEntryData(std::vector<std::uint8_t> bytes) { m_entryData = std::move(bytes); }

    // The u32 at offset in the message; 0 beyond its end.
    std::uint32_t Dword(std::size_t offset) const;
    std::uint16_t DataLength() const;
    std::uint16_t DataInfoOffset() const;
    // The size of LPC data entry index, as the message announces it; 0 when there is none.
    std::uint32_t DataEntrySize(std::uint32_t index) const;
    std::uint32_t DataEntryCount() const;

private:
    std::uint64_t m_connection = 0;
    std::uint32_t m_messageId = 0;
    bool m_wantsReply = false;
    std::vector<std::uint8_t> m_message;
    std::vector<std::uint8_t> m_view;
    std::uint32_t m_viewFlags = 0;
    std::vector<std::uint8_t> m_entryData;
};

}  // namespace Platform
}  // namespace Zun
