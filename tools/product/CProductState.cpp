#include "tools/product/CProductState.h"

#include <Poco/JSON/Stringifier.h>

#include <functional>
#include <sstream>

#include "platform/CTrustedPath.h"
#include "tools/product/CJsonReader.h"
#include "tools/product/CStateJson.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

// Large enough for any sensible state, small enough that a wrong path cannot exhaust memory.
constexpr std::size_t kMaxStateFileSize = 64 * 1024 * 1024;

template <typename T>
Poco::JSON::Array::Ptr WriteAll(const T& entries) {
    Poco::JSON::Array::Ptr array = new Poco::JSON::Array();
    for (const auto& entry : entries) {
        array->add(CStateJson::Write(entry));
    }
    return array;
}

template <typename T>
Poco::JSON::Array::Ptr WriteSecrets(const T& entries, bool maskSecrets) {
    Poco::JSON::Array::Ptr array = new Poco::JSON::Array();
    for (const auto& entry : entries) {
        array->add(CStateJson::Write(entry, maskSecrets));
    }
    return array;
}

const char* const kDefaultConfiguration =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><VELM><CONFIGURATION VERSION=\"1\">"
    "<SETTING NAME=\"EncryptionAlgorithm\" VALUE=\"AES-256\" />"
    "<SETTING NAME=\"PreBootAuthentication\" VALUE=\"1\" /></CONFIGURATION></VELM>";

}  // namespace

CProductState CProductState::Default() {
    CProductState state;
    StatusEntry healthy;
    healthy.Status = 0;
    healthy.CategoryResId = 0x12000001;
    healthy.StatusResId = 0x120000FD;
    state.Status.push_back(healthy);
    LicenceEntry licence;
    licence.AssociatedSeatId = "SEAT-0001";
    licence.LicensePublicId = "VELM-FDE-0001";
    licence.LicenseProductName = "VELM Full Disk Encryption";
    licence.LicenseExpirationDate = 1893456000;  // 2030-01-01
    licence.ProductCode = 29;
    licence.LicenseType = "Subscription";
    state.Licenses.push_back(licence);
    state.RecoveryPasswords.push_back(
        {"rp-0001", "disk-0", "0", "418253-117392-550011-093846-271834-660427"});
    state.RecoveryData.push_back(
        {"rd-0001", "disk-0", std::string("\x01\x00\x7F\x80\xFF", 5) + " recovery block"});
    state.Configuration = kDefaultConfiguration;
    return state;
}

// Each field is read on its own, so that every error of the file is listed at once.
CProductState CProductState::FromJson(const std::string& text) {
    std::vector<std::string> errors;
    CJsonReader reader(CJsonReader::Parse(text, "state", errors), "");
    CProductState state;
    const auto read = [&errors](const std::function<void()>& field) {
        try {
            field();
        } catch (const CJsonError& e) {
            errors.push_back(e.what());
        }
    };
    read([&] { state.Status = CStateJson::ReadStatus(reader.Array("Status"), "Status"); });
    read([&] { state.Licenses = CStateJson::ReadLicences(reader.Array("Licenses"), "Licenses"); });
    read([&] {
        const std::vector<TaskResult> tasks =
            CStateJson::ReadTaskResults(reader.Array("TaskResults"), "TaskResults");
        state.TaskResults.assign(tasks.begin(), tasks.end());
    });
    read([&] {
        state.RecoveryPasswords =
            CStateJson::ReadPasswords(reader.Array("RecoveryPasswords"), "RecoveryPasswords");
    });
    read([&] {
        state.RecoveryData = CStateJson::ReadRecoveryData(reader.Array("RecoveryData"), "RecoveryData");
    });
    read([&] { state.Policy = reader.OptionalString("Policy").value_or(""); });
    read([&] { state.Configuration = reader.OptionalString("Configuration").value_or(""); });
    read([&] { state.AgentId = reader.OptionalString("AgentId").value_or(""); });
    read([&] {
        state.ServerValue =
            static_cast<std::uint32_t>(reader.OptionalInteger("ServerValue", 0, 0xFFFFFFFF).value_or(1));
    });
    read([&] { state.MaintenanceMode = reader.OptionalBool("MaintenanceMode").value_or(false); });
    read([&] {
        state.CommandResult =
            static_cast<std::uint32_t>(reader.OptionalInteger("CommandResult", 0, 0xFFFFFFFF).value_or(1));
    });
    read([&] {
        state.RecoveryReannounceSeconds = static_cast<std::uint32_t>(
            reader.OptionalInteger("RecoveryReannounceSeconds", 0, 86400).value_or(60));
    });
    read([&] { reader.Finish(); });
    if (!errors.empty()) {
        throw CJsonError(CStateJson::Lines(errors));
    }
    return state;
}

CProductState CProductState::Load(const std::string& path) {
    std::string text;
    try {
        // The state carries recovery secrets: only a file that nobody else can have written or
        // swapped for a symlink is taken.
        text = Platform::CTrustedPath::ReadTrustedFile(path, kMaxStateFileSize);
    } catch (const std::runtime_error& e) {
        throw CJsonError(std::string("state file ") + e.what());
    }
    try {
        return FromJson(text);
    } catch (const CJsonError& e) {
        std::string text = e.what();
        // Every line names the file, as compilers do.
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += path.size() + 3) {
            text.insert(at + 1, path + ": ");
        }
        throw CJsonError(path + ": " + text);
    }
}

Poco::JSON::Object::Ptr CProductState::ToObject(bool maskSecrets) const {
    Poco::JSON::Object::Ptr object = new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
    object->set("Status", WriteAll(Status));
    object->set("Licenses", WriteAll(Licenses));
    object->set("TaskResults", WriteAll(TaskResults));
    object->set("RecoveryPasswords", WriteSecrets(RecoveryPasswords, maskSecrets));
    object->set("RecoveryData", WriteSecrets(RecoveryData, maskSecrets));
    object->set("Policy", Policy);
    object->set("Configuration", Configuration);
    object->set("AgentId", AgentId);
    object->set("ServerValue", ServerValue);
    object->set("MaintenanceMode", MaintenanceMode);
    object->set("CommandResult", CommandResult);
    object->set("RecoveryReannounceSeconds", RecoveryReannounceSeconds);
    return object;
}

std::string CProductState::ToJson(bool maskSecrets) const {
    std::ostringstream text;
    Poco::JSON::Stringifier::stringify(ToObject(maskSecrets), text, 2);
    return text.str();
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
