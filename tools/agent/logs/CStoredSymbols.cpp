#include "tools/agent/logs/CStoredSymbols.h"

#include <Poco/JSON/ParseHandler.h>
#include <Poco/JSON/Parser.h>

#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

Object::Ptr CStoredSymbols::Parse(const std::string& content) {
    Var parsed;
    try {
        // Keys in their stored order: a summary shows a task's fields as the agent wrote them.
        parsed = Poco::JSON::Parser(new Poco::JSON::ParseHandler(true)).parse(content);
    } catch (const Poco::Exception&) {
    }
    if (parsed.type() != typeid(Object::Ptr)) {
        throw std::runtime_error("the stored content is not a JSON object");
    }
    return parsed.extract<Object::Ptr>();
}

std::size_t CStoredSymbols::Rows() const {
    const Array::Ptr rows = m_fields.getArray("rows");
    return rows ? rows->size() : 0;
}

bool CStoredSymbols::Has(std::size_t row, int id) const {
    return Find(List(row), id) != nullptr;
}

std::string CStoredSymbols::Value(std::size_t row, int id) const {
    return ValueIn(List(row), id);
}

std::string CStoredSymbols::Product(int id) const {
    return ValueIn(m_fields.getArray("product"), id);
}

Array::Ptr CStoredSymbols::List(std::size_t row) const {
    const Array::Ptr rows = m_fields.getArray("rows");
    return rows && row < rows->size() ? rows->getArray(static_cast<unsigned>(row)) : nullptr;
}

Object::Ptr CStoredSymbols::Find(const Array::Ptr& symbols, int id) {
    for (std::size_t i = 0; symbols && i < symbols->size(); ++i) {
        const Object::Ptr symbol = symbols->getObject(static_cast<unsigned>(i));
        if (symbol && symbol->optValue<int>("id", 0) == id) {
            return symbol;
        }
    }
    return nullptr;
}

std::string CStoredSymbols::ValueIn(const Array::Ptr& symbols, int id) {
    const Object::Ptr symbol = Find(symbols, id);
    return symbol && symbol->has("value") && !symbol->get("value").isEmpty()
               ? symbol->get("value").convert<std::string>()
               : std::string();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
