#include "tools/agent/logs/CRecordPrinter.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/ParseHandler.h>
#include <Poco/JSON/Parser.h>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "tools/agent/logs/CMessageSummary.h"
#include "tools/agent/logs/CTerminalText.h"

namespace Zun {
namespace Tools {
namespace Agent {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

Object::Ptr ParseContent(const CAgentStore::Record& record) {
    try {
        Poco::JSON::Parser parser(new Poco::JSON::ParseHandler(true));
        Var parsed = parser.parse(record.content);
        if (parsed.type() == typeid(Object::Ptr)) {
            return parsed.extract<Object::Ptr>();
        }
    } catch (const Poco::Exception&) {
    }
    throw std::runtime_error("Message #" + std::to_string(record.sequence) + " has damaged content");
}

bool IsArray(const Var& value) {
    return value.type() == typeid(Array::Ptr);
}
bool IsObject(const Var& value) {
    return value.type() == typeid(Object::Ptr);
}

}  // namespace

std::string CRecordPrinter::Table(const CAgentStore::Record& record) {
    const Object::Ptr content = ParseContent(record);
    std::ostringstream out;
    out << std::left << std::setw(6) << ("#" + std::to_string(record.sequence)) << std::setw(26)
        << CTerminalText::Escaped(record.time) << std::setw(7) << record.type << std::setw(36)
        << CTerminalText::Escaped(record.description) << std::setw(34)
        << CTerminalText::Escaped(record.className)
        << (record.userContext.empty() ? "-" : CTerminalText::Escaped(record.userContext)) << "\n";
    for (const std::string& key : content->getNames()) {
        const Var value = content->get(key);
        if (key == "product") {
            out << "  product:\n" << Symbols(value, "    ");
        } else if (key == "rows" && IsArray(value)) {
            const Array::Ptr rows = value.extract<Array::Ptr>();
            for (size_t r = 0; r < rows->size(); ++r) {
                out << "  row " << r << ":\n" << Symbols(rows->get(r), "    ");
            }
        } else {
            out << "  " << CTerminalText::Escaped(key) << ": " << Plain(value) << "\n";
        }
    }
    return out.str();
}

std::string CRecordPrinter::TableHeader() {
    std::ostringstream out;
    out << std::left << std::setw(6) << "SEQ" << std::setw(26) << "TIME (UTC)" << std::setw(7) << "TYPE"
        << std::setw(36) << "DESCRIBE" << std::setw(34) << "CLASS"
        << "USER"
        << "\n";
    return out.str();
}

std::string CRecordPrinter::JsonLine(const CAgentStore::Record& record) {
    const Object::Ptr content = ParseContent(record);
    Object line(Poco::JSON_PRESERVE_KEY_ORDER);
    line.set("sequence", static_cast<Poco::Int64>(record.sequence));
    line.set("time", record.time);
    line.set("type", static_cast<Poco::UInt32>(record.type));
    line.set("class", record.className);
    line.set("describe", record.description);
    line.set("user_context", record.userContext);
    for (const std::string& key : content->getNames()) {
        line.set(key, content->get(key));
    }
    std::ostringstream out;
    line.stringify(out);
    return CTerminalText::JsonEscaped(out.str()) + "\n";
}

std::string CRecordPrinter::Summary(const CAgentStore::Record& record,
                                    const CMessageSummary::TaskNamer& namer) {
    return "#" + std::to_string(record.sequence) + " " + CTerminalText::Escaped(record.time) + " " +
           CMessageSummary::Line(record, namer) + "\n";
}

std::string CRecordPrinter::Symbols(const Var& symbols, const std::string& indent) {
    if (!IsArray(symbols)) {
        return indent + Plain(symbols) + "\n";
    }
    const Array::Ptr list = symbols.extract<Array::Ptr>();
    std::ostringstream out;
    for (size_t i = 0; i < list->size(); ++i) {
        const Var symbol = list->get(i);
        if (!IsObject(symbol)) {
            out << indent << Plain(symbol) << "\n";
            continue;
        }
        const Object::Ptr s = symbol.extract<Object::Ptr>();
        out << indent << CTerminalText::Escaped(s->optValue<std::string>("name", "?")) << " ("
            << Plain(s->get("id")) << ") = " << SymbolValue(symbol) << "\n";
    }
    return out.str();
}

std::string CRecordPrinter::SymbolValue(const Var& symbol) {
    const Object::Ptr s = symbol.extract<Object::Ptr>();
    const std::string type = s->optValue<std::string>("type", "");
    if (type == "blob") {
        // Blobs can hold whole configuration documents; a terminal only needs their size.
        return "<" + Plain(s->get("size")) + " bytes>";
    }
    if (type == "string") {
        return "\"" + Plain(s->get("value")) + "\"";
    }
    return Plain(s->get("value"));
}

// Every stored value reaches the table through here, escaped.
std::string CRecordPrinter::Plain(const Var& value) {
    if (value.isEmpty()) {
        return "null";
    }
    if (IsArray(value) || IsObject(value)) {
        std::ostringstream out;
        IsArray(value) ? value.extract<Array::Ptr>()->stringify(out)
                       : value.extract<Object::Ptr>()->stringify(out);
        return CTerminalText::JsonEscaped(out.str());
    }
    return CTerminalText::Escaped(value.convert<std::string>());
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
