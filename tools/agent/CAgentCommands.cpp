#include "tools/agent/CAgentCommands.h"

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <Poco/File.h>
#include <Poco/String.h>
#include <algorithm>
#include <boost/algorithm/string/trim.hpp>
#include <chrono>
#include <iostream>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CTrustedPath.h"
#include "tools/ExitCodes.h"
#include "tools/agent/control/CControlClient.h"
#include "tools/agent/control/CControlServer.h"
#include "tools/agent/control/CTaskParser.h"
#include "tools/agent/logs/CLogsCommand.h"
#include "tools/agent/logs/CRecordPrinter.h"
#include "tools/agent/logs/CTerminalText.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const uint32_t kTaskResultEvent = 10368;
const int kFirstIdSymbol = 2842;
const int kStateSymbol = 2850;
const int kStateRetrying = 20;
const int kStateDone = 30;
const std::chrono::milliseconds kPollInterval(200);
const size_t kLineEndBytes = 2;  // "\r\n"

Poco::JSON::Object::Ptr AsObject(const std::string& text) {
    try {
        Poco::JSON::Parser parser;
        return parser.parse(text).extract<Poco::JSON::Object::Ptr>();
    } catch (const Poco::Exception&) {
        return nullptr;
    }
}

bool Accepted(const std::string& reply) {
    const auto object = AsObject(reply);
    return object && object->optValue<bool>("ok", false);
}

// The value of a symbol in the first row of a stored event, as text; empty when it is absent.
std::string SymbolValue(const CAgentStore::Record& record, int id) {
    const auto content = AsObject(record.content);
    const auto rows = content ? content->getArray("rows") : nullptr;
    const auto symbols = rows && rows->size() > 0 ? rows->getArray(0) : nullptr;
    for (size_t i = 0; symbols && i < symbols->size(); ++i) {
        const auto symbol = symbols->getObject(static_cast<unsigned>(i));
        if (symbol && symbol->optValue<int>("id", 0) == id) {
            return symbol->get("value").toString();
        }
    }
    return "";
}

// Result events of the task that the database got after the task itself.
std::vector<CAgentStore::Record> ResultsOf(CAgentStore& store, int64_t task, const std::string& firstId,
                                           int64_t& seen) {
    CAgentStore::Filter filter;
    filter.types = {kTaskResultEvent};
    filter.task = firstId;
    std::vector<CAgentStore::Record> found;
    for (const CAgentStore::Record& record : store.Query(filter)) {
        if (record.sequence > std::max(task, seen) &&
            Poco::icompare(SymbolValue(record, kFirstIdSymbol), firstId) == 0) {
            found.push_back(record);
            seen = record.sequence;
        }
    }
    return found;
}

int WaitForResult(const CAgentOptions& options, const std::string& reply, std::ostream& out,
                  std::ostream& errors) {
    const auto answer = AsObject(reply);
    const auto ids = answer ? answer->getArray("ids") : nullptr;
    if (!ids || ids->size() == 0) {
        errors
            << "quil-agent send: the agent gave this task no task identifiers, so no result event names it\n";
        return 1;
    }
    const std::string firstId = ids->getElement<std::string>(0);
    const int64_t task = answer->getValue<Poco::Int64>("sequence");
    CAgentStore store(options.database, CAgentStore::Mode::ReadOnly);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.waitSeconds);
    int64_t seen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const CAgentStore::Record& record : ResultsOf(store, task, firstId, seen)) {
            out << CRecordPrinter::JsonLine(record) << std::flush;
            const std::string state = SymbolValue(record, kStateSymbol);
            if (state != std::to_string(kStateRetrying)) {
                return state == std::to_string(kStateDone) ? 0 : 1;
            }
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    errors << "quil-agent send: no final result event for task " << firstId << " within "
           << options.waitSeconds << " s\n";
    return 1;
}

// What `status` exits with for each state of the product, after the LSB's status codes: 0 for a
// healthy service, non-zero for each way of being unhealthy, 4 when the state is unknown.
const std::map<std::string, int> kHealth = {
    {"connected", CAgentCommands::kStatusConnected},
    {"not reachable", CAgentCommands::kStatusNotReachable},
    {"connecting", CAgentCommands::kStatusConnecting},
    {"not installed", CAgentCommands::kStatusNotInstalled},
};
const int kStatusUnknown = CAgentCommands::kStatusUnknown;

// One line per field of the report that is there; texts from the module may hold control characters.
void PrintSummary(const Poco::JSON::Object& report, std::ostream& out) {
    const auto text = [&report](const std::string& key) {
        return CTerminalText::Escaped(report.optValue<std::string>(key, ""));
    };
    out << "product:          " << text("product") << " since " << text("since") << "\n";
    const std::vector<std::pair<std::string, std::string>> optional = {
        {"reason", "reason:           "},
        {"looked_in", "looked in:        "},
        {"last_ping_failure", "last failed ping: "}};
    for (const auto& field : optional) {
        if (report.has(field.first)) {
            out << field.second << text(field.first) << "\n";
        }
    }
    out << "unfinished tasks: " << report.optValue<Poco::UInt64>("unfinished_tasks", 0) << "\n";
    if (report.has("last_error")) {
        out << "last error:       " << text("last_error") << " (" << text("last_error_time") << ")\n";
    }
}

// The task's fields that carry what no one else may see.
const char* const kSecretFields[] = {"license_file_base64"};

// Every local user reads the command lines of the others (ps, /proc): a task that carries a licence
// is refused there, read as the parser reads it, escapes and all.
void RefuseSecretsOnTheCommandLine(const std::string& argument) {
    Poco::JSON::Object::Ptr task;
    try {
        task = Poco::JSON::Parser().parse(argument).extract<Poco::JSON::Object::Ptr>();
    } catch (const std::exception&) {
        return;  // no task the agent would take; it says so
    }
    for (const char* field : kSecretFields) {
        if (task && task->has(field)) {
            throw std::runtime_error(std::string("the task carries '") + field +
                                     "', which every local user could read on a command line; give the "
                                     "task on standard input ('-') or in a file of yours (@FILE)");
        }
    }
}

// A task given as "-" comes from standard input and as "@FILE" from a file of ours, so that what
// it carries (a licence, say) never shows on a command line.
std::string TaskText(const std::string& argument, std::istream& input) {
    // A line end after the longest task is no part of it; more than that cannot be a task, and is
    // refused with the limit of the task itself, wherever it was read.
    const size_t readLimit = CControlServer::kMaxLine + kLineEndBytes;
    const std::string tooLong =
        "the task is longer than " + std::to_string(CControlServer::kMaxLine) + " bytes";
    std::string text;
    if (argument == "-") {
        std::vector<char> buffer(readLimit + 1);
        input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        text.assign(buffer.data(), static_cast<size_t>(input.gcount()));
    } else if (!argument.empty() && argument[0] == '@') {
        const std::string file = argument.substr(1);
        if (Poco::File(file).exists() && Poco::File(file).isFile() &&
            Poco::File(file).getSize() > readLimit) {
            throw std::runtime_error(tooLong);
        }
        text = Platform::CTrustedPath::ReadTrustedFile(file, readLimit);
    } else {
        RefuseSecretsOnTheCommandLine(argument);
        text = argument;
    }
    boost::algorithm::trim_right(text);
    if (text.size() > CControlServer::kMaxLine) {
        throw std::runtime_error(tooLong);
    }
    return text;
}

// Whether the agent will give the task identifiers that its result events name. A task the agent
// would refuse counts as having them: the agent's refusal says more than this check could.
bool HasIdentifiers(const std::string& task) {
    try {
        return !CTaskParser([] { return std::string("00000000-0000-0000-0000-000000000000"); })
                    .Parse(task)
                    .ids.empty();
    } catch (const std::invalid_argument&) {
        return true;
    }
}

}  // namespace

int CAgentCommands::Send(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    try {
        const std::string task = TaskText(options.task, std::cin);
        if (options.wait && !HasIdentifiers(task)) {
            errors << "quil-agent send: --wait needs a task with task identifiers (a command such as "
                      "block-password); no result event names this one, so it was not sent\n";
            return ExitCode::kUsage;
        }
        const std::string reply =
            CControlClient::Send(options.control, task, std::chrono::milliseconds(kSendTimeoutMilliseconds));
        out << reply << "\n";
        if (!Accepted(reply)) {
            return 1;
        }
        return options.wait ? WaitForResult(options, reply, out, errors) : 0;
    } catch (const std::exception& e) {
        errors << "quil-agent send: " << e.what() << "\n";
        return 1;
    }
}

int CAgentCommands::Status(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    std::string reply;
    try {
        reply = CControlClient::Send(options.control, "{\"op\":\"status\"}",
                                     std::chrono::milliseconds(kSendTimeoutMilliseconds));
    } catch (const std::exception& e) {
        errors << "quil-agent status: " << e.what() << "\n";
        return kStatusUnknown;
    }
    const auto report = AsObject(reply);
    const auto health = report ? kHealth.find(report->optValue<std::string>("product", "")) : kHealth.end();
    if (health == kHealth.end()) {
        errors << "quil-agent status: the agent's answer tells no product state: "
               << CTerminalText::Escaped(reply) << "\n";
        return kStatusUnknown;
    }
    if (options.json) {
        out << reply << "\n";
    } else {
        PrintSummary(*report, out);
    }
    return health->second;
}

int CAgentCommands::Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    return CLogsCommand(options, out, errors).Run();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
