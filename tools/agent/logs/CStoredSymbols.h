#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <cstddef>
#include <functional>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// Typed access to a stored log's content as CMessageEncoder writes it: rows of symbols
// ({"id": N, "value": V}) and, for multi-product logs, the product container. Holds the symbol
// numbers the agent's summaries and the server's fleet view read, so that both read them alike.
class CStoredSymbols {
public:
    enum Symbol : int {
        kProtectionLevel = 241,
        kProtectionState = 248,
        kConnectorVersion = 2143,
        kProductState = 3554,
        kProductName = 3560,
        kProductIdentifier = 4429,
        kStorageLevel = 4672,
        kLicenceId = 2693,
        kLicenceSeat = 2696,
        kLicenceExpiry = 2698,
        kLicenceActivated = 2700,
        kTaskFirstId = 2842,
        kTaskCode = 2848,
        kTaskState = 2850,
        kTaskMessage = 2913,
        kExportedConfiguration = 1892,
    };

    // Keeps a reference: the fields outlive this reader.
    explicit CStoredSymbols(const Poco::JSON::Object& fields) : m_fields(fields) {}

    typedef std::function<void(std::size_t row, int id, const std::string& value)> Visit;

    // The content object of a stored row; throws std::runtime_error when it is not a JSON object.
    static Poco::JSON::Object::Ptr Parse(const std::string& content);
    // Reads the content's rows of symbols without building its objects (for a page over the whole
    // fleet), handing each symbol with a value to visit; returns the number of rows. Throws
    // std::runtime_error when the content is not JSON.
    static std::size_t Scan(const std::string& content, const Visit& visit);

    std::size_t Rows() const;
    bool Has(std::size_t row, int id) const;
    // The symbol's value as text; empty when the row or the symbol is missing or has no value.
    std::string Value(std::size_t row, int id) const;
    std::string Product(int id) const;

private:
    Poco::JSON::Array::Ptr List(std::size_t row) const;
    static Poco::JSON::Object::Ptr Find(const Poco::JSON::Array::Ptr& symbols, int id);
    static std::string ValueIn(const Poco::JSON::Array::Ptr& symbols, int id);

    const Poco::JSON::Object& m_fields;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
