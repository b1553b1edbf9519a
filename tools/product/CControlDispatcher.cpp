#include "tools/product/CControlDispatcher.h"

#include <Poco/JSON/Stringifier.h>

#include <sstream>

#include "tools/common/CSuggestion.h"
#include "tools/product/CJsonReader.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CStateJson.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

constexpr std::int64_t kUInt32Max = 0xFFFFFFFF;
// Bounds that keep a mistyped number from taking the product down.
constexpr std::int64_t kMaxOversizeBytes = 64 * 1024 * 1024;
constexpr std::int64_t kMaxHangMs = 10 * 60 * 1000;

Poco::JSON::Object::Ptr NewObject() {
    return new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

}  // namespace

CControlDispatcher::CControlDispatcher(CProduct& product, CFaultPlan& faults, IBroadcastArea& area,
                                       std::function<void()> stop)
    : m_product(product), m_faults(faults), m_area(area), m_stop(std::move(stop)) {}

std::string CControlDispatcher::Line(const Poco::JSON::Object::Ptr& object) {
    std::ostringstream text;
    Poco::JSON::Stringifier::stringify(object, text, 0);
    return text.str();
}

CControlDispatcher::Answer CControlDispatcher::Handle(const std::string& line) {
    static const std::map<std::string, Operation> operations = {
        {"ping", &CControlDispatcher::Ping},
        {"show", &CControlDispatcher::Show},
        {"status", &CControlDispatcher::Status},
        {"set-status", &CControlDispatcher::SetStatus},
        {"set-licenses", &CControlDispatcher::SetLicences},
        {"add-recovery", &CControlDispatcher::AddRecovery},
        {"queue-task", &CControlDispatcher::QueueTask},
        {"set-server-value", &CControlDispatcher::SetServerValue},
        {"bump", &CControlDispatcher::Bump},
        {"command-result", &CControlDispatcher::CommandResult},
        {"pings", &CControlDispatcher::Pings},
        {"fault", &CControlDispatcher::AddFault},
        {"clear-faults", &CControlDispatcher::ClearFaults},
        {"corrupt-header", &CControlDispatcher::CorruptHeader},
        {"hold-mutex", &CControlDispatcher::HoldMutex},
        {"release-mutex", &CControlDispatcher::ReleaseMutex},
        {"die-holding-mutex", &CControlDispatcher::DieHoldingMutex},
        {"stop", &CControlDispatcher::Stop},
    };
    Answer result;
    Poco::JSON::Object::Ptr answer = NewObject();
    answer->set("ok", true);
    try {
        CJsonReader request(CJsonReader::Parse(line, "control line"), "");
        const std::string op = request.String("op");
        const auto found = operations.find(op);
        if (found == operations.end()) {
            std::vector<std::string> names;
            for (const auto& operation : operations) {
                names.push_back(operation.first);
            }
            const std::string guess = Tools::CSuggestion::DidYouMean(op, names);
            throw CJsonError("unknown op \"" + op + "\"" +
                             (guess.empty() ? "; the ops are " + Tools::CSuggestion::List(names) : guess));
        }
        const Action action = (this->*found->second)(request);
        request.Finish();
        action.Now(answer);
        m_area.Flush();  // whoever sent the line reads the area next
        result.After = action.After;
        if (op != "ping" && op != "show" && op != "status") {
            CProductLog::Info("control: " + op);
        }
    } catch (const std::exception& e) {
        answer = NewObject();
        answer->set("ok", false);
        answer->set("error", std::string(e.what()));
    }
    result.Line = Line(answer);
    return result;
}

CControlDispatcher::Action CControlDispatcher::Ping(CJsonReader&) {
    return Action{[](Poco::JSON::Object::Ptr&) {}, nullptr};
}

CControlDispatcher::Action CControlDispatcher::Show(CJsonReader&) {
    return Action{[this](Poco::JSON::Object::Ptr& answer) {
                      answer->set("state", m_product.Snapshot().ToObject(true));
                      Poco::JSON::Array::Ptr values = new Poco::JSON::Array();
                      for (const std::uint32_t value : m_area.Values()) {
                          values->add(value);
                      }
                      answer->set("values", values);
                      answer->set("pingResult", m_faults.PingResult());
                      answer->set("faultedRequests", static_cast<Poco::UInt64>(m_faults.Pending()));
                  },
                  nullptr};
}

CControlDispatcher::Action CControlDispatcher::Status(CJsonReader&) {
    return Action{[this](Poco::JSON::Object::Ptr& answer) {
                      if (m_statusSource) {
                          m_statusSource(answer);
                      }
                      answer->set("pingResult", m_faults.PingResult());
                      answer->set("faultedRequests", static_cast<Poco::UInt64>(m_faults.Pending()));
                      answer->set("maintenanceMode", m_product.Snapshot().MaintenanceMode);
                  },
                  nullptr};
}

// Replacing a list needs the list: an operation without it must not clear what the product has.
void CControlDispatcher::Require(CJsonReader& request, const std::string& key) {
    if (!request.Has(key)) {
        throw CJsonError(key + ": missing; to remove every record give an empty list, \"" + key + "\":[]");
    }
}

CControlDispatcher::Action CControlDispatcher::SetStatus(CJsonReader& request) {
    Require(request, "records");
    auto records = CStateJson::ReadStatus(request.Array("records"), "records");
    return Action{[this, records](Poco::JSON::Object::Ptr&) { m_product.SetStatus(records); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::SetLicences(CJsonReader& request) {
    Require(request, "licenses");
    auto licences = CStateJson::ReadLicences(request.Array("licenses"), "licenses");
    return Action{[this, licences](Poco::JSON::Object::Ptr&) { m_product.SetLicences(licences); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::AddRecovery(CJsonReader& request) {
    auto passwords = CStateJson::ReadPasswords(request.Array("passwords"), "passwords");
    auto data = CStateJson::ReadRecoveryData(request.Array("data"), "data");
    return Action{
        [this, passwords, data](Poco::JSON::Object::Ptr&) { m_product.AddRecovery(passwords, data); },
        nullptr};
}

CControlDispatcher::Action CControlDispatcher::QueueTask(CJsonReader& request) {
    TaskResult result;
    result.UserData = CStateJson::UserData(request, "userData");
    result.Result = static_cast<std::uint32_t>(request.OptionalInteger("result", 0, kUInt32Max).value_or(1));
    return Action{[this, result](Poco::JSON::Object::Ptr&) { m_product.QueueTask(result); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::SetServerValue(CJsonReader& request) {
    const auto value = static_cast<std::uint32_t>(request.Integer("value", 0, kUInt32Max));
    return Action{[this, value](Poco::JSON::Object::Ptr&) { m_product.SetServerValue(value); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::Bump(CJsonReader& request) {
    const auto index = static_cast<unsigned>(request.Integer("index", 0, 9));
    return Action{[this, index](Poco::JSON::Object::Ptr& answer) {
                      m_area.Bump(index);
                      answer->set("value", m_area.Values()[index]);
                  },
                  nullptr};
}

CControlDispatcher::Action CControlDispatcher::CommandResult(CJsonReader& request) {
    const auto result = static_cast<std::uint32_t>(request.Integer("result", 0, kUInt32Max));
    return Action{[this, result](Poco::JSON::Object::Ptr&) { m_product.SetCommandResult(result); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::Pings(CJsonReader& request) {
    const bool answer = request.Bool("answer");
    const auto failure =
        static_cast<std::uint32_t>(request.OptionalInteger("result", 1, kUInt32Max).value_or(1));
    const std::uint32_t result = answer ? 0 : failure;
    return Action{[this, result](Poco::JSON::Object::Ptr&) { m_faults.SetPingResult(result); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::AddFault(CJsonReader& request) {
    Fault fault;
    try {
        fault.Type = Fault::KindOf(request.String("kind"));
    } catch (const std::invalid_argument& e) {
        throw CJsonError(std::string("kind: ") + e.what());
    }
    fault.Count = static_cast<std::uint32_t>(request.OptionalInteger("count", 1, 1000000).value_or(1));
    if (fault.Type == Fault::kStatus) {
        fault.Status = static_cast<std::uint32_t>(request.Integer("status", 0, kUInt32Max));
    } else if (fault.Type == Fault::kOversize) {
        fault.Bytes = static_cast<std::uint32_t>(
            request.OptionalInteger("bytes", 12, kMaxOversizeBytes).value_or(200000));
    } else if (fault.Type == Fault::kHang) {
        fault.HangMs = static_cast<std::uint32_t>(request.Integer("ms", 0, kMaxHangMs));
    }
    fault.Request = request.OptionalString("request").value_or("");
    return Action{[this, fault](Poco::JSON::Object::Ptr&) { m_faults.Add(fault); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::ClearFaults(CJsonReader&) {
    return Action{[this](Poco::JSON::Object::Ptr&) { m_faults.Clear(); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::CorruptHeader(CJsonReader& request) {
    const bool corrupt = request.OptionalBool("corrupt").value_or(true);
    return Action{[this, corrupt](Poco::JSON::Object::Ptr&) { m_area.CorruptHeader(corrupt); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::HoldMutex(CJsonReader& request) {
    const auto holdMs = static_cast<std::uint32_t>(request.OptionalInteger("ms", 0, kMaxHangMs).value_or(0));
    return Action{[this, holdMs](Poco::JSON::Object::Ptr&) { m_area.HoldMutex(holdMs); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::ReleaseMutex(CJsonReader&) {
    return Action{[this](Poco::JSON::Object::Ptr&) { m_area.ReleaseMutex(); }, nullptr};
}

CControlDispatcher::Action CControlDispatcher::DieHoldingMutex(CJsonReader&) {
    return Action{[](Poco::JSON::Object::Ptr&) {}, [this] { m_area.DieHoldingMutex(); }};
}

CControlDispatcher::Action CControlDispatcher::Stop(CJsonReader&) {
    return Action{[](Poco::JSON::Object::Ptr&) {}, m_stop};
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
