#include "server/CServerCommands.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <iomanip>
#include <map>
#include <sstream>

#include "server/admin/CAdminClient.h"
#include "tools/ExitCodes.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;
namespace ExitCode = Tools::ExitCode;
typedef CServerOptions::Command Command;

namespace {

const int kNameColumn = 20;
const int kStateColumn = 15;
const int kTimeColumn = 26;

std::string Text(const Object::Ptr& object, const std::string& key) {
    return object->has(key) ? object->get(key).toString() : std::string();
}

void PrintHosts(const Array::Ptr& hosts, std::ostream& out) {
    out << std::left << std::setw(kNameColumn) << "computer" << std::setw(kStateColumn) << "link"
        << std::setw(kStateColumn) << "product" << std::setw(kTimeColumn) << "last seen"
        << "items (unconfirmed)\n";
    for (size_t i = 0; i < hosts->size(); ++i) {
        const Object::Ptr host = hosts->getObject(static_cast<unsigned>(i));
        out << std::left << std::setw(kNameColumn) << Text(host, "name") << std::setw(kStateColumn)
            << (host->getValue<bool>("connected") ? "connected" : "disconnected") << std::setw(kStateColumn)
            << Text(host, "product") << std::setw(kTimeColumn) << Text(host, "last_seen")
            << Text(host, "items") << " (" << Text(host, "items_unconfirmed") << ")\n";
    }
}

void PrintReveal(const Object::Ptr& answer, std::ostream& out) {
    const Array::Ptr passwords = answer->getArray("passwords");
    for (size_t i = 0; i < passwords->size(); ++i) {
        const Object::Ptr item = passwords->getObject(static_cast<unsigned>(i));
        out << "device " << Text(item, "device_id") << " index " << Text(item, "index") << " ("
            << Text(item, "internal_id") << ", " << Text(item, "state")
            << "): " << Text(item, "recovery_password") << "\n";
    }
}

void PrintAudit(const Array::Ptr& rows, std::ostream& out) {
    for (size_t i = 0; i < rows->size(); ++i) {
        const Object::Ptr row = rows->getObject(static_cast<unsigned>(i));
        out << "#" << Text(row, "id") << " " << Text(row, "time") << " " << Text(row, "who") << " (uid "
            << Text(row, "uid") << ") " << Text(row, "action") << " " << Text(row, "computer") << " ["
            << Text(row, "items") << "]: " << Text(row, "reason") << "\n";
    }
}

void PrintTasks(const Array::Ptr& tasks, std::ostream& out) {
    for (size_t i = 0; i < tasks->size(); ++i) {
        const Object::Ptr task = tasks->getObject(static_cast<unsigned>(i));
        out << "#" << Text(task, "id") << " " << Text(task, "computer") << " " << Text(task, "state") << " "
            << Text(task, "line") << "\n";
        const Array::Ptr results = task->getArray("results");
        for (size_t r = 0; results && r < results->size(); ++r) {
            out << "    " << results->getElement<std::string>(static_cast<unsigned>(r)) << "\n";
        }
    }
}

void PrintQueued(const Array::Ptr& queued, std::ostream& out) {
    for (size_t i = 0; i < queued->size(); ++i) {
        const Object::Ptr entry = queued->getObject(static_cast<unsigned>(i));
        out << "queued task #" << Text(entry, "id") << " for " << Text(entry, "computer")
            << (entry->getValue<bool>("connected") ? "" : " (delivered when it connects)") << "\n";
    }
}

void Print(const CServerOptions& options, const Object::Ptr& answer, std::ostream& out) {
    switch (options.command) {
        case Command::Hosts:
            PrintHosts(answer->getArray("hosts"), out);
            break;
        case Command::Host:
            answer->getObject("host")->stringify(out, 2);
            out << "\n";
            break;
        case Command::Reveal:
            PrintReveal(answer, out);
            break;
        case Command::Audit:
            PrintAudit(answer->getArray("audit"), out);
            break;
        case Command::Task:
            PrintQueued(answer->getArray("queued"), out);
            break;
        default:
            PrintTasks(answer->getArray("tasks"), out);
            break;
    }
}

}  // namespace

std::string CServerCommands::Request(const CServerOptions& options) {
    static const std::map<Command, std::string> names = {
        {Command::Hosts, "hosts"}, {Command::Host, "host"}, {Command::Reveal, "reveal"},
        {Command::Audit, "audit"}, {Command::Task, "task"}, {Command::Tasks, "tasks"}};
    Object request(Poco::JSON_PRESERVE_KEY_ORDER);
    request.set("command", names.at(options.command));
    if (!options.name.empty()) {
        request.set("name", options.name);
    }
    if (options.command == Command::Reveal) {
        request.set("reason", options.reason);
        if (!options.device.empty()) {
            request.set("device", options.device);
        }
    }
    if (options.command == Command::Task) {
        request.set("all", options.all);
        request.set("line", options.line);
    }
    std::ostringstream text;
    request.stringify(text);
    return text.str();
}

int CServerCommands::Admin(const CServerOptions& options, std::ostream& out, std::ostream& err) {
    std::string answer;
    try {
        answer = CAdminClient(options.adminSocket).Request(Request(options));
    } catch (const std::exception& e) {
        err << "quil-server: " << e.what() << "\n";
        return ExitCode::kUnavailable;
    }
    Object::Ptr parsed;
    try {
        parsed = Poco::JSON::Parser().parse(answer).extract<Object::Ptr>();
    } catch (const Poco::Exception& e) {
        err << "quil-server: the server's answer is not JSON: " << e.displayText() << "\n";
        Tools::Agent::CSecretWiper::Wipe(answer);
        return ExitCode::kSoftware;
    }
    const bool ok = parsed->optValue<bool>("ok", false);
    if (!ok) {
        err << "quil-server: " << Text(parsed, "error") << "\n";
    } else if (options.json) {
        out << answer << "\n";
    } else {
        Print(options, parsed, out);
    }
    Tools::Agent::CSecretWiper::Wipe(answer);
    return ok ? ExitCode::kOk : ExitCode::kFailure;
}

}  // namespace Server
}  // namespace Zun
