#include "tools/product/CJsonReader.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include "tools/common/CStrictJson.h"

#include <cerrno>
#include <cstdlib>

namespace Zun {
namespace Tools {
namespace Product {

namespace {

std::int64_t TextToInteger(const std::string& text, const std::string& path) {
    const bool negative = !text.empty() && text[0] == '-';
    const char* start = text.c_str() + (negative ? 1 : 0);
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(start, &end, 0);
    if (text.empty() || *start == '-' || *start == '+' || *start == ' ' || end == start || *end != '\0' ||
        errno == ERANGE || magnitude > static_cast<unsigned long long>(INT64_MAX)) {
        throw CJsonError(path + ": \"" + text + "\" is not an integer");
    }
    const std::int64_t value = static_cast<std::int64_t>(magnitude);
    return negative ? -value : value;
}

}  // namespace

CJsonReader::CJsonReader(const Poco::Dynamic::Var& value, std::string path) : m_path(std::move(path)) {
    if (value.type() != typeid(Poco::JSON::Object::Ptr) ||
        value.extract<Poco::JSON::Object::Ptr>().isNull()) {
        throw CJsonError((m_path.empty() ? std::string("document") : m_path) + ": expected an object");
    }
    m_object = value.extract<Poco::JSON::Object::Ptr>();
}

Poco::Dynamic::Var CJsonReader::Parse(const std::string& text, const std::string& what) {
    std::vector<std::string> problems;
    const Poco::Dynamic::Var parsed = Parse(text, what, problems);
    if (!problems.empty()) {
        throw CJsonError(problems.front());
    }
    return parsed;
}

Poco::Dynamic::Var CJsonReader::Parse(const std::string& given, const std::string& what,
                                      std::vector<std::string>& problems) {
    // Editors on Windows start UTF-8 files with a byte order mark; it carries nothing.
    const std::string text = CStrictJson::WithoutByteOrderMark(given);
    for (const CStrictJson::Error& e : CStrictJson::Problems(text)) {
        if (e.Path().empty()) {
            throw CJsonError(what + ": " + e.Problem());  // not UTF-8: nothing more to read
        }
        problems.push_back(e.what());
    }
    try {
        Poco::JSON::Parser parser;
        return parser.parse(text);
    } catch (const Poco::Exception& e) {
        throw CJsonError(what + " is not valid JSON: " + e.displayText());
    }
}

bool CJsonReader::Has(const std::string& key) const {
    return m_object->has(key) && !m_object->isNull(key);
}

Poco::Dynamic::Var CJsonReader::Take(const std::string& key) {
    m_used.insert(key);
    if (!Has(key)) {
        throw CJsonError(Path(key) + ": missing");
    }
    return m_object->get(key);
}

std::string CJsonReader::String(const std::string& key) {
    const Poco::Dynamic::Var value = Take(key);
    if (!value.isString()) {
        throw CJsonError(Path(key) + ": expected a string");
    }
    return value.extract<std::string>();
}

std::optional<std::string> CJsonReader::OptionalString(const std::string& key) {
    m_used.insert(key);
    return Has(key) ? std::optional<std::string>(String(key)) : std::nullopt;
}

std::int64_t CJsonReader::ToInteger(const Poco::Dynamic::Var& value, const std::string& path,
                                    std::int64_t min, std::int64_t max) {
    std::int64_t number = 0;
    if (value.isString()) {
        number = TextToInteger(value.extract<std::string>(), path);
    } else if (value.isInteger() && value.isSigned()) {
        number = value.convert<Poco::Int64>();
    } else if (value.isInteger()) {
        const Poco::UInt64 unsignedNumber = value.convert<Poco::UInt64>();
        if (unsignedNumber > static_cast<Poco::UInt64>(max)) {
            throw CJsonError(path + ": " + std::to_string(unsignedNumber) + " is out of range");
        }
        number = static_cast<std::int64_t>(unsignedNumber);
    } else {
        throw CJsonError(path + ": expected an integer");
    }
    if (number < min || number > max) {
        throw CJsonError(path + ": " + std::to_string(number) + " is out of range " + std::to_string(min) +
                         ".." + std::to_string(max));
    }
    return number;
}

std::int64_t CJsonReader::Integer(const std::string& key, std::int64_t min, std::int64_t max) {
    return ToInteger(Take(key), Path(key), min, max);
}

std::optional<std::int64_t> CJsonReader::OptionalInteger(const std::string& key, std::int64_t min,
                                                         std::int64_t max) {
    m_used.insert(key);
    return Has(key) ? std::optional<std::int64_t>(Integer(key, min, max)) : std::nullopt;
}

bool CJsonReader::Bool(const std::string& key) {
    const Poco::Dynamic::Var value = Take(key);
    if (value.type() != typeid(bool)) {
        throw CJsonError(Path(key) + ": expected true or false");
    }
    return value.extract<bool>();
}

std::optional<bool> CJsonReader::OptionalBool(const std::string& key) {
    m_used.insert(key);
    return Has(key) ? std::optional<bool>(Bool(key)) : std::nullopt;
}

Poco::JSON::Array::Ptr CJsonReader::Array(const std::string& key) {
    m_used.insert(key);
    if (!Has(key)) {
        return new Poco::JSON::Array();
    }
    const Poco::Dynamic::Var value = m_object->get(key);
    if (value.type() != typeid(Poco::JSON::Array::Ptr) || value.extract<Poco::JSON::Array::Ptr>().isNull()) {
        throw CJsonError(Path(key) + ": expected an array");
    }
    return value.extract<Poco::JSON::Array::Ptr>();
}

void CJsonReader::Finish() const {
    for (const std::string& name : m_object->getNames()) {
        if (m_used.count(name) == 0) {
            throw CJsonError(Path(name) + ": unknown field");
        }
    }
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
