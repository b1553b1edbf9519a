#include "tools/demo/CPublishedLog.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/ParseHandler.h>
#include <Poco/JSON/Parser.h>
#include <unistd.h>

#include <stdexcept>

#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Demo {

using Agent::CAgentStore;
using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

Object::Ptr ParseObject(const std::string& text) {
    Poco::JSON::Parser parser(new Poco::JSON::ParseHandler(true));
    const Var parsed = parser.parse(text);
    if (parsed.type() != typeid(Object::Ptr)) {
        throw std::runtime_error("Not a JSON object: " + text.substr(0, 80));
    }
    return parsed.extract<Object::Ptr>();
}

}  // namespace

CPublished CPublished::FromJsonLine(const std::string& line) {
    CPublished message;
    message.m_fields = ParseObject(line);
    message.m_sequence = message.m_fields->getValue<Poco::Int64>("sequence");
    message.m_type = message.m_fields->getValue<Poco::UInt32>("type");
    message.m_describe = message.m_fields->optValue<std::string>("describe", "");
    message.m_userContext = message.m_fields->optValue<std::string>("user_context", "");
    return message;
}

CPublished::CPublished(int64_t sequence, uint32_t type, const std::string& describe,
                       const std::string& userContext, const std::string& content)
    : m_sequence(sequence),
      m_type(type),
      m_describe(describe),
      m_userContext(userContext),
      m_fields(ParseObject(content)) {}

Array::Ptr CPublished::Symbols(size_t row) const {
    if (row == kProduct) {
        return m_fields->getArray("product");
    }
    const Array::Ptr rows = m_fields->getArray("rows");
    return rows && row < rows->size() ? rows->getArray(static_cast<unsigned>(row)) : nullptr;
}

size_t CPublished::RowCount() const {
    const Array::Ptr rows = m_fields->getArray("rows");
    return rows ? rows->size() : 0;
}

std::vector<int> CPublished::SymbolIds(size_t row) const {
    std::vector<int> ids;
    const Array::Ptr symbols = Symbols(row);
    for (size_t i = 0; symbols && i < symbols->size(); ++i) {
        ids.push_back(symbols->getObject(static_cast<unsigned>(i))->getValue<int>("id"));
    }
    return ids;
}

bool CPublished::HasSymbol(size_t row, int id) const {
    for (int present : SymbolIds(row)) {
        if (present == id) {
            return true;
        }
    }
    return false;
}

std::string CPublished::Symbol(size_t row, int id) const {
    const Array::Ptr symbols = Symbols(row);
    for (size_t i = 0; symbols && i < symbols->size(); ++i) {
        const Object::Ptr symbol = symbols->getObject(static_cast<unsigned>(i));
        if (symbol->getValue<int>("id") == id) {
            return symbol->has("value") ? symbol->get("value").convert<std::string>() : std::string();
        }
    }
    return "";
}

std::vector<CPublished> CPublishedLog::All() const {
    std::vector<CPublished> messages;
    if (access(m_database.c_str(), R_OK) != 0) {
        return messages;
    }
    for (const CAgentStore::Record& r :
         CAgentStore(m_database, CAgentStore::Mode::ReadOnly).Query(CAgentStore::Filter())) {
        messages.emplace_back(r.sequence, r.type, r.description, r.userContext, r.content);
    }
    return messages;
}

std::vector<CPublished> CPublishedLog::OfType(uint32_t type) const {
    std::vector<CPublished> messages;
    for (CPublished& message : All()) {
        if (message.Type() == type) {
            messages.push_back(std::move(message));
        }
    }
    return messages;
}

std::string CPublishedLog::Payload(int64_t sequence) const {
    return CAgentStore(m_database, CAgentStore::Mode::ReadOnly).Payload(sequence);
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
