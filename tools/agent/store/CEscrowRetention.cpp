#include "tools/agent/store/CEscrowRetention.h"

#include <set>
#include <string>

#include "host/CQUILProcessRecoveryDataResponse.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef Common::Message::Connectors::QUILConnector::CQUILProcessRecoveryDataResponse CResponse;
typedef CResponse::Data CRecoveryData;

template <typename Items>
bool RemoveConfirmed(Items& items, const std::set<std::string>& confirmed) {
    const int before = items.size();
    for (int i = items.size() - 1; i >= 0; --i) {
        if (confirmed.count(items.Get(i).internalid()) != 0) {
            items.DeleteSubrange(i, 1);
        }
    }
    return items.size() != before;
}

// Returns true when the payload changed; leaves the rest to keep in `kept` (empty when nothing is left).
bool Confirm(const std::string& payload, const CRecoveryData& response, std::string& kept) {
    std::set<std::string> passwords, blocks;
    for (const auto& p : response.recovery_passwords()) {
        passwords.insert(p.internalid());
    }
    for (const auto& b : response.recovery_data_blocks()) {
        blocks.insert(b.internalid());
    }
    CRecoveryData stored;
    if (!stored.ParseFromString(payload)) {
        return false;
    }
    const bool changed = RemoveConfirmed(*stored.mutable_recovery_passwords(), passwords) |
                         RemoveConfirmed(*stored.mutable_recovery_data_blocks(), blocks);
    if (changed && (stored.recovery_passwords_size() > 0 || stored.recovery_data_blocks_size() > 0)) {
        stored.SerializeToString(&kept);
    }
    // The parsed copy's strings are released with it; overwrite the secrets they hold first.
    for (auto& p : *stored.mutable_recovery_passwords()) {
        CSecretWiper::Wipe(*p.mutable_recovery_password());
    }
    for (auto& b : *stored.mutable_recovery_data_blocks()) {
        CSecretWiper::Wipe(*b.mutable_recovery_data());
    }
    return changed;
}

}  // namespace

const uint32_t CEscrowRetention::kRequestType;

int CEscrowRetention::Release(CAgentStore& store, const Common::Kernel::IMessage& message) {
    const auto* response = dynamic_cast<const CResponse*>(&message);
    if (response == nullptr) {
        return 0;
    }
    int changed = 0;
    for (int64_t sequence : store.WithPayload(kRequestType)) {
        std::string payload = store.Payload(sequence);
        std::string kept;
        if (Confirm(payload, response->GetFDERecoveryData(), kept)) {
            store.ReplacePayload(sequence, kept);
            ++changed;
        }
        CSecretWiper::Wipe(payload);
        CSecretWiper::Wipe(kept);
    }
    return changed;
}

int64_t CEscrowRetention::Store(CAgentStore& store, const Common::Kernel::IMessage& message,
                                const CAgentStore::Record& record) {
    Release(store, message);
    return store.Append(record);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
