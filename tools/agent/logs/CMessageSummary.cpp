#include "tools/agent/logs/CMessageSummary.h"

#include <Poco/Base64Decoder.h>
#include <Poco/JSON/Array.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>

#include "tools/agent/logs/CStoredSymbols.h"
#include "tools/agent/logs/CTerminalText.h"

namespace Zun {
namespace Tools {
namespace Agent {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

// Message types the module publishes.
enum Type : uint32_t {
    kProtectionStatus = 10044,
    kConnectorStatus = 10292,
    kEncryptionStorage = 10553,
    kLicences = 10348,
    kProductStatus = 10405,
    kTaskResult = 10368,
    kConfigurationExport = 10244,
    kRecoveryEscrow = 728,
    kQUILRequest = 9,
};

const char kAllClear[] = "0xFFFFFFFFFFFFFFFF";
const char kUnreachableLevel[] = "6";

typedef CStoredSymbols CSymbols;

std::string StorageWords(size_t rows, const std::string& level) {
    return rows == 0 ? "no record in order" : "in order, level " + level;
}

std::string DecodeBase64(const std::string& text) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
}

std::string Kind(const std::string& kind) {
    static const char* const names[] = {"status", "licences", "task results", "recovery data"};
    const int k = std::atoi(kind.c_str());
    return k >= 0 && k < 4 ? names[k] : "kind " + kind;
}

size_t Count(const Object& fields, const std::string& list) {
    const Array::Ptr items = fields.getArray(list);
    return items ? items->size() : 0;
}

// A field's value in a line; lists and objects only say that they are there.
std::string Scalar(const Var& value) {
    if (value.isEmpty()) {
        return "null";
    }
    if (value.type() == typeid(Array::Ptr) || value.type() == typeid(Object::Ptr)) {
        return "[...]";
    }
    return value.convert<std::string>();
}

void ProtectionStatus(std::ostream& out, const CSymbols& m) {
    out << "protection status:";
    for (size_t r = 0; r < m.Rows(); ++r) {
        const std::string status = m.Value(r, CSymbols::kProtectionState);
        out << (status == kAllClear
                    ? " all clear"
                    : " level " + m.Value(r, CSymbols::kProtectionLevel) + " status " + status);
        if (m.Value(r, CSymbols::kProtectionLevel) == kUnreachableLevel) {
            out << " (product unreachable)";
        }
    }
}

void Licences(std::ostream& out, const CSymbols& m) {
    out << "licences:";
    for (size_t r = 0; r < m.Rows(); ++r) {
        out << " " << m.Value(r, CSymbols::kLicenceId) << " (" << m.Value(r, CSymbols::kLicenceSeat)
            << ") activated " << m.Value(r, CSymbols::kLicenceActivated) << ", expires "
            << m.Value(r, CSymbols::kLicenceExpiry);
    }
}

void TaskResult(std::ostream& out, const CSymbols& m, const CMessageSummary::TaskNamer& namer) {
    const std::string first = m.Value(0, CSymbols::kTaskFirstId);
    const std::string name = namer ? namer(first) : std::string();
    const std::string state = m.Value(0, CSymbols::kTaskState);
    static const std::map<std::string, std::string> labels = {
        {"20", " (retrying)"}, {"30", " (done)"}, {"40", " (failed)"}};
    const auto label = labels.find(state);
    out << "task result: " << (name.empty() ? first : name) << " state " << state
        << (label == labels.end() ? "" : label->second) << ", code " << m.Value(0, CSymbols::kTaskCode);
    if (m.Has(0, CSymbols::kTaskMessage)) {
        out << ", \"" << m.Value(0, CSymbols::kTaskMessage) << "\"";
    }
}

// The columns a `logs --json` line carries beside the content's fields.
bool IsColumn(const std::string& key) {
    static const char* const columns[] = {"sequence", "time", "type", "class", "describe", "user_context"};
    for (const char* column : columns) {
        if (key == column) {
            return true;
        }
    }
    return false;
}

// A task as the agent handed it over: its first identifier, then its own fields.
void Task(std::ostream& out, const std::string& description, const Object& fields,
          const CMessageSummary::TaskNamer& namer) {
    const Array::Ptr ids = fields.getArray("ids");
    const std::string first = ids && ids->size() > 0 ? Scalar(ids->get(0)) : std::string("?");
    const std::string name = namer ? namer(first) : std::string();
    // A name that only repeats the description says less than the identifier.
    out << description << " task " << (name.empty() || name == description ? first : name);
    for (const std::string& key : fields.getNames()) {
        if (key != "ids" && !IsColumn(key)) {
            out << ", " << key << " " << Scalar(fields.get(key));
        }
    }
}

// What the content's own fields tell, for messages that are neither logs nor tasks.
void Other(std::ostream& out, const std::string& description, const std::string& userContext,
           const Object& fields) {
    out << description;
    if (fields.has("recovery_passwords")) {
        out << ": " << Count(fields, "recovery_passwords") << " password(s), "
            << Count(fields, "recovery_data_blocks") << " data block(s), secrets masked";
    } else if (fields.has("kind")) {
        out << ": asks for " << Kind(Scalar(fields.get("kind")));
    } else if (fields.has("configuration")) {
        out << ": configuration of " << Scalar(fields.get("configuration")).size() << " bytes";
    }
    if (!userContext.empty()) {
        out << " from " << userContext;
    }
}

}  // namespace

std::string CMessageSummary::Line(uint32_t type, const std::string& description,
                                  const std::string& userContext, const Object& fields,
                                  const TaskNamer& namer) {
    const CSymbols m(fields);
    std::ostringstream out;
    out << type << " ";
    switch (type) {
        case kConnectorStatus:
            out << "connector status: running (" << m.Value(0, CSymbols::kConnectorVersion) << ")";
            break;
        case kProductStatus:
            out << "product status: "
                << (m.Rows() == 0 ? "deactivated, product " + m.Product(CSymbols::kProductIdentifier)
                                  : m.Value(0, CSymbols::kProductName) + ", state " +
                                        m.Value(0, CSymbols::kProductState));
            break;
        case kProtectionStatus:
            ProtectionStatus(out, m);
            break;
        case kEncryptionStorage:
            out << "encryption storage: " << StorageWords(m.Rows(), m.Value(0, CSymbols::kStorageLevel));
            break;
        case kLicences:
            Licences(out, m);
            break;
        case kTaskResult:
            TaskResult(out, m, namer);
            break;
        case kConfigurationExport:
            out << "configuration export: " << DecodeBase64(m.Value(0, CSymbols::kExportedConfiguration));
            break;
        case kRecoveryEscrow:
            out << "recovery escrow: " << Count(fields, "recovery_passwords") << " password(s), "
                << Count(fields, "recovery_data_blocks") << " data block(s), secrets masked in every output";
            break;
        case kQUILRequest:
            out << "QUILRequest: asks for " << Kind(fields.has("kind") ? Scalar(fields.get("kind")) : "?");
            break;
        default:
            fields.has("ids") ? Task(out, description, fields, namer)
                              : Other(out, description, userContext, fields);
    }
    return CTerminalText::Escaped(out.str());
}

std::string CMessageSummary::Storage(const std::string& content) {
    std::string level;
    const size_t rows = CSymbols::Scan(content, [&](size_t row, int id, const std::string& value) {
        level = row == 0 && id == CSymbols::kStorageLevel ? value : level;
    });
    return StorageWords(rows, level);
}

std::string CMessageSummary::SoonestExpiry(const std::string& content) {
    std::string soonest;
    CSymbols::Scan(content, [&](size_t, int id, const std::string& expiry) {
        if (id == CSymbols::kLicenceExpiry && !expiry.empty() && (soonest.empty() || expiry < soonest)) {
            soonest = expiry;
        }
    });
    return soonest;
}

std::string CMessageSummary::Line(const CAgentStore::Record& record, const TaskNamer& namer) {
    Object::Ptr fields;
    try {
        fields = CStoredSymbols::Parse(record.content);
    } catch (const std::runtime_error&) {
        throw std::runtime_error("Message #" + std::to_string(record.sequence) + " has damaged content");
    }
    return Line(record.type, record.description, record.userContext, *fields, namer);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
