#include "tools/agent/logs/CStoredSymbols.h"

#include <Poco/JSON/Handler.h>
#include <Poco/JSON/ParseHandler.h>
#include <Poco/JSON/Parser.h>

#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

// Follows the parser's events through {"rows": [[{"id": N, "value": V}, ...], ...]}: depth 1 is the
// content, 2 the list of rows, 3 a row, 4 a symbol.
class CSymbolScan : public Poco::JSON::Handler {
public:
    explicit CSymbolScan(const CStoredSymbols::Visit& visit) : m_visit(visit) {}

    std::size_t Rows() const { return m_rows; }

    void reset() override {}
    void startObject() override { Open(); }
    void endObject() override {
        if (m_depth == kSymbol && m_rowsOpen && m_hasValue) {
            m_visit(m_rows - 1, m_id, m_value);
        }
        --m_depth;
    }
    void startArray() override {
        Open();
        if (m_depth == kRows && m_key == "rows") {
            m_rowsOpen = true;
        } else if (m_depth == kRow && m_rowsOpen) {
            ++m_rows;
        }
    }
    void endArray() override {
        m_rowsOpen = m_rowsOpen && m_depth != kRows;
        --m_depth;
    }
    void key(const std::string& k) override { m_key = k; }
    void null() override {}
    void value(int v) override { Number(v); }
    void value(unsigned v) override { Number(v); }
    void value(Poco::Int64 v) override { Number(v); }
    void value(Poco::UInt64 v) override { Number(v); }
    void value(double v) override { Text(Poco::Dynamic::Var(v).convert<std::string>()); }
    void value(bool v) override { Text(v ? "true" : "false"); }
    void value(const std::string& v) override { Text(v); }

private:
    static const int kRows = 2;
    static const int kRow = 3;
    static const int kSymbol = 4;

    void Open() {
        ++m_depth;
        if (m_depth == kSymbol) {
            m_id = 0;
            m_hasValue = false;
        }
    }
    template <typename T>
    void Number(T v) {
        if (m_depth == kSymbol && m_key == "id") {
            m_id = static_cast<int>(v);
        } else {
            Text(std::to_string(v));
        }
    }
    void Text(const std::string& v) {
        if (m_depth == kSymbol && m_key == "value") {
            m_value = v;
            m_hasValue = true;
        }
    }

    const CStoredSymbols::Visit& m_visit;
    int m_depth = 0;
    bool m_rowsOpen = false;
    std::size_t m_rows = 0;
    std::string m_key;
    int m_id = 0;
    std::string m_value;
    bool m_hasValue = false;
};

}  // namespace

std::size_t CStoredSymbols::Scan(const std::string& content, const Visit& visit) {
    Poco::SharedPtr<CSymbolScan> scan(new CSymbolScan(visit));
    try {
        Poco::JSON::Parser(scan).parse(content);
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("the stored content is not JSON: " + e.displayText());
    }
    return scan->Rows();
}

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
