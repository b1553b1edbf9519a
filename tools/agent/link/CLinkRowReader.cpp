#include "tools/agent/link/CLinkRowReader.h"

#include "host/proto/Encryption.pb.h"
#include "tools/agent/link/ILinkStore.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;

CLinkRowReader::CLinkRowReader(ILinkStore& store) : m_store(store) {}

std::vector<StoredRow> CLinkRowReader::After(int64_t sequence, std::size_t count) {
    const int64_t committed = m_store.CommittedThrough();
    std::vector<CAgentStore::Record> records;
    if (sequence < committed) {
        m_store.Scan(CAgentStore::Filter(), sequence, count, CAgentStore::Order::Oldest, records);
    }
    std::vector<StoredRow> rows;
    for (const CAgentStore::Record& record : records) {
        if (record.sequence > committed) {
            break;
        }
        StoredRow row;
        row.set_sequence(record.sequence);
        row.set_time(record.time);
        row.set_type(record.type);
        row.set_class_name(record.className);
        row.set_description(record.description);
        row.set_user_context(record.userContext);
        row.set_content(record.content);
        if (record.type == kRecoveryDataRequest) {
            AddRecoveryItems(row);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Passwords first, then data blocks, each in the product's order.
void CLinkRowReader::AddRecoveryItems(StoredRow& row) {
    std::string payload = m_store.Payload(row.sequence());
    Common::DataDefinition::Encryption::FDERecoveryData data;
    const bool parsed = !payload.empty() && data.ParseFromString(payload);
    CSecretWiper::Wipe(payload);
    if (!parsed) {
        return;  // the escrow retention removed it once the server confirmed it
    }
    for (auto& password : *data.mutable_recovery_passwords()) {
        RecoveryItem* item = row.add_recovery_items();
        item->set_kind(RecoveryItem::PASSWORD);
        item->set_internal_id(password.internalid());
        item->set_device_id(password.deviceid());
        item->set_index(password.index());
        item->set_secret(password.recovery_password());
        CSecretWiper::Wipe(*password.mutable_recovery_password());
    }
    for (auto& block : *data.mutable_recovery_data_blocks()) {
        RecoveryItem* item = row.add_recovery_items();
        item->set_kind(RecoveryItem::DATA);
        item->set_internal_id(block.internalid());
        item->set_device_id(block.deviceid());
        item->set_secret(block.recovery_data());
        CSecretWiper::Wipe(*block.mutable_recovery_data());
    }
}

void CLinkRowReader::Wipe(std::vector<StoredRow>& rows) {
    for (StoredRow& row : rows) {
        Wipe(row);
    }
}

void CLinkRowReader::Wipe(StoredRow& row) {
    for (RecoveryItem& item : *row.mutable_recovery_items()) {
        CSecretWiper::Wipe(*item.mutable_secret());
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
