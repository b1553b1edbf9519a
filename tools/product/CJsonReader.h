#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Product {

// Bad JSON from the state file or the control socket; the text names the offending field.
class CJsonError : public std::runtime_error {
public:
    explicit CJsonError(const std::string& text) : std::runtime_error(text) {}
};

// Reads the fields of one JSON object strictly: wrong types, values out of range and, at Finish,
// names it does not know are errors, so that a typo in a state file does not pass unnoticed.
class CJsonReader {
public:
    CJsonReader(const Poco::Dynamic::Var& value, std::string path);

    // The object of one JSON text.
    static Poco::Dynamic::Var Parse(const std::string& text, const std::string& what);
    // The same, but fields given twice and integers beyond 64 bits are added to problems rather
    // than thrown, so that the caller can list them with everything else wrong in the text.
    static Poco::Dynamic::Var Parse(const std::string& text, const std::string& what,
                                    std::vector<std::string>& problems);

    bool Has(const std::string& key) const;
    std::string String(const std::string& key);
    std::optional<std::string> OptionalString(const std::string& key);
    // Integers may also be given as text, decimal or with a 0x prefix.
    std::int64_t Integer(const std::string& key, std::int64_t min, std::int64_t max);
    std::optional<std::int64_t> OptionalInteger(const std::string& key, std::int64_t min, std::int64_t max);
    bool Bool(const std::string& key);
    std::optional<bool> OptionalBool(const std::string& key);
    // The array under key; absent gives an empty array.
    Poco::JSON::Array::Ptr Array(const std::string& key);
    std::string Path(const std::string& key) const { return m_path.empty() ? key : m_path + "." + key; }
    void Finish() const;

    static std::int64_t ToInteger(const Poco::Dynamic::Var& value, const std::string& path, std::int64_t min,
                                  std::int64_t max);

private:
    Poco::Dynamic::Var Take(const std::string& key);

    Poco::JSON::Object::Ptr m_object;
    std::string m_path;
    std::set<std::string> m_used;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
