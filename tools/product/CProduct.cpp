#include "tools/product/CProduct.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "messages/Base64.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CReplyBuilder.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

std::string UserData(const ProductRequest& request) {
    const auto found = request.Nodes.find("USERDATA");
    if (found == request.Nodes.end() || found->second.empty()) {
        throw CBadRequest(request.Function + " without USERDATA");
    }
    return found->second;
}

bool IsDecimal(const std::string& text) {
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > start && text.size() <= 20 &&
           std::all_of(text.begin() + start, text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Describe(const ProductRequest& request) {
    return request.Command == kCommandXmlDocument ? "function " + request.Function
                                                  : "command " + std::to_string(request.Command);
}

template <typename T>
std::size_t RemoveConfirmed(std::vector<T>& entries, const std::vector<std::string>& uids) {
    const std::set<std::string> confirmed(uids.begin(), uids.end());
    const std::size_t before = entries.size();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const T& entry) { return confirmed.count(entry.Uid) != 0; }),
                  entries.end());
    return before - entries.size();
}

// New material for a known UID replaces the old, as when the product regenerates a disk's key.
template <typename T>
void Merge(std::vector<T>& entries, const std::vector<T>& added) {
    for (const T& entry : added) {
        const auto same = std::find_if(entries.begin(), entries.end(),
                                       [&](const T& existing) { return existing.Uid == entry.Uid; });
        if (same == entries.end()) {
            entries.push_back(entry);
        } else {
            *same = entry;
        }
    }
}

}  // namespace

CProduct::CProduct(CProductState state, IBroadcastArea& area)
    : m_state(std::move(state)), m_area(area), m_lastAnnounce(Clock::now()) {}

StatusEntry CProduct::MaintenanceRecord() {
    StatusEntry entry;
    entry.Status = 1;
    entry.CategoryResId = 0x12000002;
    entry.StatusResId = 0x12000110;
    return entry;
}

std::string CProduct::RequestName(const std::vector<std::uint8_t>& payload) {
    try {
        return Describe(CRequestParser::Parse(payload));
    } catch (const CBadRequest&) {
        return std::string();
    }
}

CProduct::Reply CProduct::Handle(const std::vector<std::uint8_t>& payload) {
    return Handle(payload, 0, 0);
}

CProduct::Reply CProduct::Handle(const std::vector<std::uint8_t>& payload, std::size_t paddedBytes,
                                 std::size_t replyCapacity) {
    const CProductLog::CGathered lines;
    try {
        const ProductRequest request = CRequestParser::Parse(payload);
        std::lock_guard<std::mutex> guard(m_lock);
        std::optional<CProductState> before;
        if (paddedBytes > 0) {
            before = m_state;
        }
        const Reply reply = Dispatch(request);
        if (before && std::max(kReplyHeaderSize + reply.Body.size(), paddedBytes) > replyCapacity) {
            // The module never sees this reply and sends the request again: it must meet the same state.
            m_state = std::move(*before);
        }
        CProductLog::Info(Describe(request) + ": status " + std::to_string(reply.Status) + ", " +
                          std::to_string(reply.Body.size()) + " bytes");
        return reply;
    } catch (const CBadRequest& e) {
        CProductLog::Warning(std::string("rejected request: ") + e.what());
        return Reply{kStatusBadRequest, ""};
    }
}

CProduct::Reply CProduct::Dispatch(const ProductRequest& request) {
    switch (request.Command) {
        case kCommandXmlDocument:
            return RunFunction(request);
        case kCommandGetStatus:
            return Reply{kStatusSuccess, CReplyBuilder::StatusDocument(CurrentStatus())};
        case kCommandGetLicense:
            return Reply{kStatusSuccess, CReplyBuilder::LicenceDocument(m_state.Licenses)};
        case kCommandGetTaskStatus:
            return NextTaskResult();
        case kCommandExportConfiguration:
            return Reply{kStatusSuccess, m_state.Configuration};
        case kCommandImportConfiguration:
            return ImportConfiguration(request);
        case kCommandSendAgentUuid:
            m_state.AgentId = request.AgentId;
            return Reply{kStatusSuccess, ""};
        default:
            return Reply{kStatusUnsupported, ""};
    }
}

CProduct::Reply CProduct::RunFunction(const ProductRequest& request) {
    static const std::map<std::string, Function> functions = {
        {"ACTIVATION", &CProduct::Activate},
        {"BLOCK_FDE_ENCRYPTION_PASSWORD", &CProduct::ChangePassword},
        {"INVALIDATE_FDE_ENCRYPTION_PASSWORD", &CProduct::ChangePassword},
        {"WIPE_FDE_ENCRYPTION_PASSWORD", &CProduct::ChangePassword},
        {"ENABLE_MAINTENANCE_MODE", &CProduct::EnableMaintenance},
        {"DISABLE_MAINTENANCE_MODE", &CProduct::DisableMaintenance},
        {"GET_ENCRYPTION_RECOVERY_DATA", &CProduct::GetRecoveryData},
        {"CONFIRM_ENCRYPTION_RECOVERY_DATA", &CProduct::ConfirmRecoveryData},
    };
    const auto found = functions.find(request.Function);
    return found == functions.end() ? Reply{kStatusUnsupported, ""} : (this->*found->second)(request);
}

CProduct::Reply CProduct::Finish(const ProductRequest& request) {
    const std::string userData = UserData(request);
    m_state.TaskResults.push_back(TaskResult{userData, m_state.CommandResult});
    // Names the task, so that whoever watches the log knows what a product that dies takes along.
    CProductLog::Info("task result queued for " + userData.substr(0, userData.find(';')));
    m_area.Bump(kValueTaskResults);
    return Reply{kStatusSuccess, CReplyBuilder::CommandDocument(request.Function, m_state.CommandResult)};
}

CProduct::Reply CProduct::Activate(const ProductRequest& request) {
    UserData(request);
    const auto licence = request.Nodes.find("LICENSE_FILE");
    const auto managed = request.Nodes.find("MANAGED_ACTIVATION");
    if (licence != request.Nodes.end()) {
        std::string licenceFile;
        try {
            licenceFile = Connectors::Common::DecodeBase64(licence->second);
        } catch (const std::runtime_error&) {
            throw CBadRequest("ACTIVATION with a LICENSE_FILE that is not Base64");
        }
        if (licenceFile.empty()) {
            throw CBadRequest("ACTIVATION with an empty LICENSE_FILE");
        }
    } else if (managed == request.Nodes.end() || managed->second.empty()) {
        throw CBadRequest("ACTIVATION without LICENSE_FILE or MANAGED_ACTIVATION");
    }
    bool changed = m_state.Licenses.empty();
    if (changed) {
        m_state.Licenses = CProductState::Default().Licenses;
    }
    for (LicenceEntry& entry : m_state.Licenses) {
        changed = changed || !entry.ActivatedByZun;
        entry.ActivatedByZun = true;
    }
    if (changed) {
        m_area.Bump(kValueLicences);
    }
    return Finish(request);
}

CProduct::Reply CProduct::ChangePassword(const ProductRequest& request) {
    return Finish(request);
}

CProduct::Reply CProduct::EnableMaintenance(const ProductRequest& request) {
    UserData(request);
    bool limited = false;
    for (const char* name : {"BOOTS", "SECONDS", "TIME"}) {
        const auto found = request.Nodes.find(name);
        if (found != request.Nodes.end()) {
            if (!IsDecimal(found->second)) {
                throw CBadRequest(std::string("ENABLE_MAINTENANCE_MODE with a ") + name +
                                  " that is not a number");
            }
            limited = true;
        }
    }
    if (!limited) {
        throw CBadRequest("ENABLE_MAINTENANCE_MODE without BOOTS, SECONDS or TIME");
    }
    SetMaintenance(true);
    return Finish(request);
}

CProduct::Reply CProduct::DisableMaintenance(const ProductRequest& request) {
    UserData(request);
    SetMaintenance(false);
    return Finish(request);
}

void CProduct::SetMaintenance(bool on) {
    if (m_state.MaintenanceMode != on) {
        m_state.MaintenanceMode = on;
        m_area.Bump(kValueStatus);
    }
}

CProduct::Reply CProduct::GetRecoveryData(const ProductRequest&) {
    return Reply{kStatusSuccess,
                 CReplyBuilder::RecoveryDocument(m_state.RecoveryPasswords, m_state.RecoveryData)};
}

CProduct::Reply CProduct::ConfirmRecoveryData(const ProductRequest& request) {
    const std::size_t removed = RemoveConfirmed(m_state.RecoveryPasswords, request.ConfirmedPasswords) +
                                RemoveConfirmed(m_state.RecoveryData, request.ConfirmedData);
    CProductLog::Info("confirmed " + std::to_string(removed) + " recovery items, " +
                      std::to_string(m_state.RecoveryPasswords.size() + m_state.RecoveryData.size()) +
                      " left");
    return Reply{kStatusSuccess, CReplyBuilder::CommandDocument(request.Function, kResultFinished)};
}

CProduct::Reply CProduct::NextTaskResult() {
    if (m_state.TaskResults.empty()) {
        return Reply{kStatusSuccess, ""};
    }
    const TaskResult result = m_state.TaskResults.front();
    m_state.TaskResults.pop_front();
    return Reply{kStatusSuccess, CReplyBuilder::TaskRecord(result)};
}

CProduct::Reply CProduct::ImportConfiguration(const ProductRequest& request) {
    m_state.Policy = request.Body;
    m_state.Configuration = request.Body;
    return Reply{kStatusSuccess, ""};
}

std::vector<StatusEntry> CProduct::CurrentStatus() const {
    std::vector<StatusEntry> entries = m_state.Status;
    if (m_state.MaintenanceMode) {
        entries.push_back(MaintenanceRecord());
    }
    return entries;
}

void CProduct::AnnounceRecovery() {
    m_area.Bump(kValueRecoveryData);
    m_lastAnnounce = Clock::now();
}

void CProduct::SetStatus(std::vector<StatusEntry> entries) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.Status = std::move(entries);
    m_area.Bump(kValueStatus);
}

void CProduct::SetLicences(std::vector<LicenceEntry> entries) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.Licenses = std::move(entries);
    m_area.Bump(kValueLicences);
}

void CProduct::AddRecovery(const std::vector<RecoveryPasswordEntry>& passwords,
                           const std::vector<RecoveryDataEntry>& data) {
    std::lock_guard<std::mutex> guard(m_lock);
    Merge(m_state.RecoveryPasswords, passwords);
    Merge(m_state.RecoveryData, data);
    if (!passwords.empty() || !data.empty()) {
        AnnounceRecovery();
    }
}

void CProduct::QueueTask(const TaskResult& result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.TaskResults.push_back(result);
    m_area.Bump(kValueTaskResults);
}

void CProduct::SetCommandResult(std::uint32_t result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.CommandResult = result;
}

void CProduct::SetServerValue(std::uint32_t value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_state.ServerValue = value;
    m_area.SetServerValue(value);
}

void CProduct::Tick(Clock::time_point now) {
    std::lock_guard<std::mutex> guard(m_lock);
    const bool pending = !m_state.RecoveryPasswords.empty() || !m_state.RecoveryData.empty();
    const auto interval = std::chrono::seconds(m_state.RecoveryReannounceSeconds);
    if (pending && m_state.RecoveryReannounceSeconds != 0 && now - m_lastAnnounce >= interval) {
        AnnounceRecovery();
        m_lastAnnounce = now;
    }
}

CProductState CProduct::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_state;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
