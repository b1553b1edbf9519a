#include "tools/agent/link/CLinkStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

int64_t CLinkStore::CommittedThrough() {
    return m_store.CommittedThrough();
}

void CLinkStore::Acknowledge(int64_t sequence) {
    m_store.Acknowledge(sequence);
}

int64_t CLinkStore::Scan(const CAgentStore::Filter& filter, int64_t from, std::size_t count,
                         CAgentStore::Order order, std::vector<CAgentStore::Record>& records) {
    return m_store.Scan(filter, from, count, order, records);
}

std::string CLinkStore::Payload(int64_t sequence) {
    return m_store.Payload(sequence);
}

std::string CLinkStore::Setting(const std::string& name, const std::string& fallback) {
    return m_store.Setting(name, fallback);
}

void CLinkStore::SetSetting(const std::string& name, const std::string& value) {
    m_store.SetSetting(name, value);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
