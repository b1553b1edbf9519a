#pragma once

#include "tools/agent/link/ILinkStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's store as the server link sees it: each call goes straight to the store.
class CLinkStore : public ILinkStore {
public:
    explicit CLinkStore(CAgentStore& store) : m_store(store) {}

    int64_t CommittedThrough() override;
    void Acknowledge(int64_t sequence) override;
    int64_t Scan(const CAgentStore::Filter& filter, int64_t from, std::size_t count, CAgentStore::Order order,
                 std::vector<CAgentStore::Record>& records) override;
    std::string Payload(int64_t sequence) override;
    std::string Setting(const std::string& name, const std::string& fallback) override;
    void SetSetting(const std::string& name, const std::string& value) override;

private:
    CAgentStore& m_store;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
