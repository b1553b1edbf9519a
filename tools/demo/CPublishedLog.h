#pragma once

#include <Poco/JSON/Object.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Demo {

// One message as the agent stored it: the JSON the agent keeps for it, with typed access to the
// symbols of its rows. Symbol values are compared as the agent prints them: numbers in decimal,
// resource ids as 0x%016llX, uuids and times as text, blobs in Base64.
class CPublished {
public:
    // From a line of `quil-agent logs --json`: the content's fields sit beside type and describe.
    static CPublished FromJsonLine(const std::string& line);
    CPublished(int64_t sequence, uint32_t type, const std::string& describe, const std::string& userContext,
               const std::string& content);

    int64_t Sequence() const { return m_sequence; }
    uint32_t Type() const { return m_type; }
    const std::string& Describe() const { return m_describe; }
    const std::string& UserContext() const { return m_userContext; }
    const Poco::JSON::Object& Fields() const { return *m_fields; }

    size_t RowCount() const;
    bool HasSymbol(size_t row, int id) const;
    // The value of symbol id in row (or in the product container when row is kProduct); empty when absent.
    std::string Symbol(size_t row, int id) const;
    // The ids of a row's symbols, in their order.
    std::vector<int> SymbolIds(size_t row) const;
    static constexpr size_t kProduct = static_cast<size_t>(-1);

private:
    CPublished() = default;
    Poco::JSON::Array::Ptr Symbols(size_t row) const;

    int64_t m_sequence = 0;
    uint32_t m_type = 0;
    std::string m_describe;
    std::string m_userContext;
    Poco::JSON::Object::Ptr m_fields;
};

// What an agent database holds so far, read without disturbing the agent that writes it.
class CPublishedLog {
public:
    explicit CPublishedLog(const std::string& database) : m_database(database) {}

    // Every stored message in publication order; none while the agent has not made its database yet.
    std::vector<CPublished> All() const;
    std::vector<CPublished> OfType(uint32_t type) const;
    size_t Count(uint32_t type) const { return OfType(type).size(); }
    // The payload the agent keeps whole (recovery-data requests), empty when there is none.
    std::string Payload(int64_t sequence) const;

private:
    std::string m_database;
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
