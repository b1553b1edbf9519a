#include "tools/agent/CAgentCommands.h"

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include "tools/agent/CAgentStore.h"
#include "tools/agent/CControlClient.h"
#include "tools/agent/CRecordPrinter.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

bool Accepted(const std::string& reply) {
    try {
        Poco::JSON::Parser parser;
        const Poco::Dynamic::Var parsed = parser.parse(reply);
        const auto object = parsed.extract<Poco::JSON::Object::Ptr>();
        return object->optValue<bool>("ok", false);
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace

int CAgentCommands::Send(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    try {
        const std::string reply = CControlClient::Send(options.control, options.task,
                                                       std::chrono::milliseconds(kSendTimeoutMilliseconds));
        out << reply << "\n";
        return Accepted(reply) ? 0 : 1;
    } catch (const std::exception& e) {
        errors << "quil-agent send: " << e.what() << "\n";
        return 1;
    }
}

int CAgentCommands::Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    std::vector<CAgentStore::Record> records;
    try {
        CAgentStore store(options.database, CAgentStore::Mode::ReadOnly);
        CAgentStore::Filter filter;
        filter.type = options.type;
        filter.since = options.since;
        records = store.Query(filter);
    } catch (const std::exception& e) {
        errors << "quil-agent logs: " << e.what() << "\n";
        return 1;
    }
    int code = 0;
    if (!options.json && !records.empty()) {
        out << CRecordPrinter::TableHeader();
    }
    for (const CAgentStore::Record& record : records) {
        try {
            out << (options.json ? CRecordPrinter::JsonLine(record) : CRecordPrinter::Table(record) + "\n");
        } catch (const std::exception& e) {
            errors << "quil-agent logs: " << e.what() << "\n";
            code = 1;
        }
    }
    return code;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
