#include "tools/agent/control/CTaskParser.h"

#include <Poco/Base64Decoder.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Timestamp.h>
#include <boost/make_shared.hpp>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "bus/CQUILRequest.h"
#include "host/CApplyPolicy.h"
#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "host/CRequestConfigurationMessage.h"
#include "host/CWipeFDELogin.h"
#include "tools/agent/logs/CUtcTime.h"
#include "tools/common/CJsonSyntax.h"
#include "tools/common/CStrictJson.h"
#include "tools/common/CSuggestion.h"

namespace Zun {
namespace Tools {
namespace Agent {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;
namespace Msg = Common::Message;
namespace Quil = Common::Message::Connectors::QUILConnector;

namespace {

// The product types whose configuration the module exports; it ignores requests for any other.
const std::set<uint32_t> kExportedProductTypes = {0, 10};

std::invalid_argument Bad(const std::string& text) {
    return std::invalid_argument(text);
}

bool IsUuid(const std::string& text) {
    static const std::regex form(
        "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
    return std::regex_match(text, form);
}

std::string String(const Object& task, const std::string& field) {
    const Var value = task.get(field);
    if (!value.isString()) {
        throw Bad("'" + field + "' must be a string");
    }
    return value.extract<std::string>();
}

uint32_t Unsigned(const Object& task, const std::string& field, uint32_t maximum) {
    const Var value = task.get(field);
    // Booleans and numeric strings convert silently in Poco; a task must say what it means.
    if (!value.isInteger() || value.isBoolean() || value.isString()) {
        throw Bad("'" + field + "' must be an integer");
    }
    const bool negative = value.isSigned() && value.convert<Poco::Int64>() < 0;
    if (negative || value.convert<Poco::UInt64>() > maximum) {
        throw Bad("'" + field + "' must be between 0 and " + std::to_string(maximum));
    }
    return static_cast<uint32_t>(value.convert<Poco::UInt64>());
}

std::vector<std::string> Strings(const Object& task, const std::string& field) {
    const Array::Ptr list = task.getArray(field);
    if (!list) {
        throw Bad("'" + field + "' must be an array of strings");
    }
    std::vector<std::string> items;
    for (size_t i = 0; i < list->size(); ++i) {
        if (!list->get(i).isString()) {
            throw Bad("'" + field + "' must be an array of strings");
        }
        items.push_back(list->get(i).extract<std::string>());
    }
    return items;
}

std::string DecodeBase64(const std::string& text, const std::string& field) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    std::string bytes;
    char c;
    // The decoder throws on a character outside the alphabet; the stream turns that into badbit.
    while (decoder.get(c)) {
        bytes += c;
    }
    if (decoder.bad()) {
        throw Bad("'" + field + "' is not valid Base64");
    }
    return bytes;
}

// The module converts the date before it builds the request; one outside its calendar would only
// come back as a failed task after two attempts and reconnects.
Common::DataDefinition::Common::UTCTime Time(const std::string& text) {
    static const std::regex form("(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})Z");
    std::smatch m;
    if (!std::regex_match(text, m, form)) {
        throw Bad("'until' must be a UTC time like 2027-01-01T00:00:00Z");
    }
    CUtcTime::Parts parts;
    parts.year = std::stoi(m[1]);
    parts.month = std::stoi(m[2]);
    parts.day = std::stoi(m[3]);
    parts.hour = std::stoi(m[4]);
    parts.minute = std::stoi(m[5]);
    parts.second = std::stoi(m[6]);
    const std::string fault = CUtcTime::Fault(parts);
    if (!fault.empty()) {
        throw Bad("'until' is no date of the calendar: " + text + " (" + fault + ")");
    }
    Common::DataDefinition::Common::UTCTime time;
    time.set_year(parts.year);
    time.set_month(parts.month);
    time.set_day(parts.day);
    time.set_hour(parts.hour);
    time.set_minute(parts.minute);
    time.set_second(parts.second);
    return time;
}

template <class T>
CTaskParser::MessagePtr Plain(const Object&) {
    return boost::make_shared<T>();
}

CTaskParser::MessagePtr Activation(const Object& task) {
    auto message = boost::make_shared<Msg::Connectors::Product::Task::CProductActivation>();
    if (task.has("license_file_base64")) {
        message->SetLicenseFile(DecodeBase64(String(task, "license_file_base64"), "license_file_base64"));
    }
    if (task.has("managed_activation")) {
        message->SetManagedActivation(String(task, "managed_activation"));
    }
    // The product would be asked to activate with nothing to activate with.
    if (!task.has("license_file_base64") && !task.has("managed_activation")) {
        throw Bad("give 'license_file_base64' or 'managed_activation'");
    }
    return message;
}

CTaskParser::MessagePtr MaintenanceOn(const Object& task) {
    auto message = boost::make_shared<Quil::Task::CEnableFDEMaintenanceMode>();
    auto& data = message->MutableEnableMaintenanceMode();
    const uint32_t all = std::numeric_limits<uint32_t>::max();
    if (task.has("boots")) {
        data.set_bootcycles(Unsigned(task, "boots", all));
    }
    if (task.has("seconds")) {
        data.set_seconds(Unsigned(task, "seconds", all));
    }
    if (task.has("until")) {
        *data.mutable_fixeddate() = Time(String(task, "until"));
    }
    // The product needs to know when maintenance ends; without any bound the module cannot build
    // the request and would retry it with reconnects before it reports the task failed.
    if (!task.has("boots") && !task.has("seconds") && !task.has("until")) {
        throw Bad("the maintenance window is missing: give 'boots', 'seconds' or 'until'");
    }
    return message;
}

CTaskParser::MessagePtr ExportConfiguration(const Object& task) {
    if (!task.has("product_type")) {
        throw Bad("'product_type' is missing");
    }
    const uint32_t type = Unsigned(task, "product_type", std::numeric_limits<uint32_t>::max());
    // Any other type would be taken and answered ok, and then nothing at all would happen.
    if (kExportedProductTypes.count(type) == 0) {
        throw Bad("'product_type' must be 0 or 10, the types whose configuration is exported");
    }
    auto message = boost::make_shared<Msg::Configuration::CRequestConfigurationMessage>();
    message->MutableRequestConfiguration().set_producttype(type);
    return message;
}

CTaskParser::MessagePtr Policy(const Object& task) {
    if (!task.has("configuration")) {
        throw Bad("'configuration' is missing");
    }
    return boost::make_shared<Msg::Policies::CApplyPolicy>(String(task, "configuration"));
}

CTaskParser::MessagePtr RecoveryResponse(const Object& task) {
    auto message = boost::make_shared<Quil::CQUILProcessRecoveryDataResponse>();
    auto& data = message->MutableFDERecoveryData();
    if (task.has("passwords")) {
        for (const std::string& id : Strings(task, "passwords")) {
            data.add_recovery_passwords()->set_internalid(id);
        }
    }
    if (task.has("data")) {
        for (const std::string& id : Strings(task, "data")) {
            data.add_recovery_data_blocks()->set_internalid(id);
        }
    }
    if (data.recovery_passwords_size() == 0 && data.recovery_data_blocks_size() == 0) {
        throw Bad("a recovery response needs 'passwords' or 'data' with at least one internal id");
    }
    return message;
}

CTaskParser::MessagePtr Query(const Object& task) {
    if (!task.has("kind")) {
        throw Bad("'kind' is missing");
    }
    return boost::make_shared<Quil::CQUILRequest>(
        Unsigned(task, "kind", Quil::CQUILRequest::KindRecoveryData));
}

Object::Ptr ParseObject(const std::string& line) {
    try {
        Tools::CStrictJson::Check(line);
    } catch (const Tools::CStrictJson::Error& e) {
        throw Bad(e.Path().empty() ? e.Problem() : "'" + e.Path() + "' " + e.Problem());
    }
    try {
        Tools::CJsonSyntax::Check(line);
    } catch (const std::invalid_argument& e) {
        throw Bad(std::string("not valid JSON: ") + e.what());
    }
    const std::string kind = Tools::CJsonSyntax::KindOf(line);
    if (kind != "an object") {
        throw Bad("a task must be a JSON object, not " + kind);
    }
    Var parsed;
    try {
        Poco::JSON::Parser parser;
        parsed = parser.parse(line);
    } catch (const Poco::Exception& e) {
        throw Bad("not valid JSON: " + e.displayText());
    }
    return parsed.extract<Object::Ptr>();
}

}  // namespace

CTaskParser::CTaskParser(IdGenerator generate) : m_generate(std::move(generate)), m_kinds(Kinds()) {}

std::map<std::string, CTaskParser::Kind> CTaskParser::Kinds() {
    return {
        {"activate", {{"license_file_base64", "managed_activation"}, true, &Activation}},
        {"block-password", {{}, true, &Plain<Quil::CBlockFDELogin>}},
        {"invalidate-password", {{}, true, &Plain<Quil::CInvalidateFDELogin>}},
        {"wipe-password", {{}, true, &Plain<Quil::CWipeFDELogin>}},
        {"maintenance-on", {{"boots", "seconds", "until"}, true, &MaintenanceOn}},
        {"maintenance-off", {{}, true, &Plain<Quil::Task::CDisableFDEMaintenanceMode>}},
        {"export-configuration", {{"product_type"}, true, &ExportConfiguration}},
        {"policy", {{"configuration"}, false, &Policy, true}},
        {"recovery-response", {{"passwords", "data"}, false, &RecoveryResponse}},
        {"query", {{"kind"}, false, &Query}},
    };
}

std::vector<std::string> CTaskParser::Names() const {
    std::vector<std::string> names;
    for (const auto& kind : m_kinds) {
        names.push_back(kind.first);
    }
    return names;
}

namespace {

// A window that ended before the task arrived would be taken, and end at once or never begin.
void CheckStillDue(const std::string& name, const Object& task) {
    if (name != "maintenance-on" || !task.has("until")) {
        return;
    }
    const std::string now = Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y-%m-%dT%H:%M:%SZ");
    // Both are checked ISO 8601 UTC times of the same form, which compare as text.
    if (String(task, "until") <= now) {
        throw Bad("'until' is in the past: " + String(task, "until") + " (now " + now + ")");
    }
}

}  // namespace

CTaskParser::Task CTaskParser::Parse(const std::string& given, Moment moment) const {
    // Windows tools put a byte order mark before UTF-8 text; it says nothing about the task.
    const std::string line = Tools::CStrictJson::WithoutByteOrderMark(given);
    const Object::Ptr json = ParseObject(line);
    if (!json->has("task")) {
        throw Bad("'task' is missing");
    }
    Task task;
    try {
        task.name = String(*json, "task");
        const auto kind = m_kinds.find(task.name);
        if (kind == m_kinds.end()) {
            throw Bad("unknown task '" + task.name + "'" +
                      Tools::CSuggestion::DidYouMean(task.name, Names()));
        }
        CheckFields(task.name, *json, kind->second);
        task.message = kind->second.build(*json);
        if (moment == Moment::New) {
            CheckStillDue(task.name, *json);
        }
        task.ids = Identify(*json, kind->second, *task.message);
        task.keptByModule = kind->second.keptByModule;
    } catch (const std::invalid_argument& e) {
        throw Bad(task.name.empty() ? e.what() : "task '" + task.name + "': " + e.what());
    }
    task.line = Restatement(*json, task.ids);
    return task;
}

// The task with the identifiers it was given: parsed again, it builds the same message.
std::string CTaskParser::Restatement(Object json, const std::vector<std::string>& ids) {
    if (!ids.empty()) {
        Poco::JSON::Array::Ptr given = new Poco::JSON::Array;
        for (const std::string& id : ids) {
            given->add(id);
        }
        json.set("ids", given);
    }
    std::ostringstream out;
    json.stringify(out);
    return out.str();
}

void CTaskParser::CheckFields(const std::string& name, const Object& task, const Kind& kind) {
    for (const std::string& field : task.getNames()) {
        if (field != "task" && kind.fields.count(field) == 0 && !(kind.hasIds && field == "ids")) {
            throw Bad("unknown field '" + field + "'" +
                      (field == "ids" ? ": " + name + " has no task identifiers" : ""));
        }
    }
}

std::vector<std::string> CTaskParser::Identify(const Object& task, const Kind& kind,
                                               Common::Kernel::IMessage& message) const {
    if (!kind.hasIds) {
        return {};
    }
    std::vector<std::string> ids;
    if (task.has("ids")) {
        ids = Strings(task, "ids");
        if (ids.size() != 3) {
            throw Bad("'ids' must hold exactly three task identifiers");
        }
        for (const std::string& id : ids) {
            if (!IsUuid(id)) {
                throw Bad("'" + id + "' is not a UUID");
            }
        }
    } else {
        ids = {m_generate(), m_generate(), m_generate()};
    }
    static_cast<Msg::CTask&>(message).SetTaskIdentifiers(ids[0], ids[1], ids[2]);
    return ids;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
