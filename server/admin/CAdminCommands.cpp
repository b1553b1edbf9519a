#include "server/admin/CAdminCommands.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <Poco/UUIDGenerator.h>
#include <sstream>
#include <stdexcept>

#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

// The server queues this one itself, for what it escrowed; from anyone else it would have the
// product forget secrets the server may not hold.
const char* const kServerOnlyTask = "recovery-response";

Object::Ptr NewObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

Object::Ptr Ok() {
    Object::Ptr answer = NewObject();
    answer->set("ok", true);
    return answer;
}

std::string Text(const Object::Ptr& request, const std::string& field, bool required) {
    if (!request->has(field)) {
        if (required) {
            throw std::invalid_argument("'" + field + "' is missing");
        }
        return std::string();
    }
    if (!request->get(field).isString()) {
        throw std::invalid_argument("'" + field + "' must be a string");
    }
    return request->getValue<std::string>(field);
}

std::string Stringify(const Object::Ptr& json) {
    std::ostringstream out;
    json->stringify(out);
    return out.str();
}

std::string Refusal(const std::string& error) {
    Object::Ptr answer = NewObject();
    answer->set("ok", false);
    answer->set("error", error);
    return Stringify(answer);
}

std::string NewUuid() {
    return Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
}

}  // namespace

CAdminCommands::CAdminCommands(CFleetStore& store, CFleetService& service, EnrolledCheck enrolled)
    : m_store(store),
      m_enrolled(std::move(enrolled)),
      m_service(service),
      m_view(store),
      m_parser(&NewUuid) {}

std::string CAdminCommands::Handle(const std::string& line, const Peer& peer) {
    try {
        Poco::JSON::Parser parser;
        const Poco::Dynamic::Var parsed = parser.parse(line);
        if (parsed.type() != typeid(Object::Ptr)) {
            throw std::invalid_argument("a request must be a JSON object");
        }
        return Stringify(Dispatch(parsed.extract<Object::Ptr>(), peer));
    } catch (const Poco::Exception& e) {
        return Refusal(e.displayText());
    } catch (const std::exception& e) {
        return Refusal(e.what());
    }
}

CAdminCommands::Json CAdminCommands::Dispatch(const Json& request, const Peer& peer) {
    const std::string command = Text(request, "command", true);
    Json answer = Ok();
    if (command == "hosts") {
        answer->set("hosts", m_view.Hosts());
    } else if (command == "host") {
        answer->set("host", m_view.Host(Text(request, "name", true)));
    } else if (command == "reveal") {
        return Reveal(request, peer);
    } else if (command == "audit") {
        return Audit();
    } else if (command == "task") {
        return Task(request);
    } else if (command == "tasks") {
        answer->set("tasks", m_view.Tasks());
    } else {
        throw std::invalid_argument("unknown command '" + command + "'");
    }
    return answer;
}

CAdminCommands::Json CAdminCommands::Reveal(const Json& request, const Peer& peer) {
    const std::string name = Text(request, "name", true);
    std::vector<CFleetService::Revealed> revealed = m_service.Reveal(
        name, Text(request, "device", false), {peer.user, peer.uid}, Text(request, "reason", true));
    Array::Ptr passwords = new Array;
    for (CFleetService::Revealed& item : revealed) {
        Json entry = NewObject();
        entry->set("internal_id", item.internalId);
        entry->set("device_id", item.deviceId);
        entry->set("index", item.index);
        entry->set("state", item.state);
        entry->set("recovery_password", item.secret);
        Tools::Agent::CSecretWiper::Wipe(item.secret);
        passwords->add(entry);
    }
    Json answer = Ok();
    answer->set("computer", name);
    answer->set("passwords", passwords);
    return answer;
}

CAdminCommands::Json CAdminCommands::Task(const Json& request) {
    const std::string line = Text(request, "line", true);
    const bool all = request->optValue<bool>("all", false);
    const Tools::Agent::CTaskParser::Task task = m_parser.Parse(line);
    if (task.name == kServerOnlyTask) {
        throw std::invalid_argument(
            "recovery responses are the server's own: it sends them for what it escrowed");
    }
    std::vector<std::string> computers;
    if (all) {
        for (const CFleetStore::Computer& computer : m_store.Computers()) {
            computers.push_back(computer.name);
        }
    } else {
        const std::string name = Text(request, "name", true);
        CFleetStore::Computer computer;
        if (!m_store.FindComputer(name, computer)) {
            // Enrolled but not connected yet: the task waits for its first connection.
            if (!m_enrolled(name)) {
                throw std::invalid_argument("no computer " + name + " has connected or is enrolled");
            }
            m_store.Enrolled(name);
        }
        computers.push_back(name);
    }
    std::string ids;
    for (const std::string& id : task.ids) {
        ids += (ids.empty() ? "" : " ") + id;
    }
    const std::vector<int64_t> taskIds = m_service.QueueTasks(computers, task.line, ids);
    Array::Ptr queued = new Array;
    for (std::size_t i = 0; i < computers.size(); ++i) {
        Json entry = NewObject();
        entry->set("computer", computers[i]);
        entry->set("id", static_cast<Poco::Int64>(taskIds[i]));
        entry->set("connected", m_service.IsConnected(computers[i]));
        queued->add(entry);
    }
    Json answer = Ok();
    answer->set("line", task.line);
    answer->set("queued", queued);
    return answer;
}

CAdminCommands::Json CAdminCommands::Audit() {
    Array::Ptr rows = new Array;
    for (const CFleetStore::AuditEntry& entry : m_store.Audit()) {
        Json row = NewObject();
        row->set("id", static_cast<Poco::Int64>(entry.id));
        row->set("time", entry.time);
        row->set("who", entry.who);
        row->set("uid", static_cast<Poco::Int64>(entry.uid));
        row->set("action", entry.action);
        row->set("computer", entry.computer);
        row->set("items", entry.items);
        row->set("reason", entry.reason);
        rows->add(row);
    }
    Json answer = Ok();
    answer->set("audit", rows);
    return answer;
}

}  // namespace Server
}  // namespace Zun
