#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// What the server link reads and keeps in the agent's store. The link lives in a library of its own
// that the agent loads only when a server is configured, and reaches the store through this table
// of calls alone: the library never links the store's code (see CLinkStore for the agent's side).
// Only the store's plain record types cross with it.
class ILinkStore {
public:
    virtual ~ILinkStore() = default;

    // See CAgentStore for each.
    virtual int64_t CommittedThrough() = 0;
    virtual void Acknowledge(int64_t sequence) = 0;
    virtual int64_t Scan(const CAgentStore::Filter& filter, int64_t from, std::size_t count,
                         CAgentStore::Order order, std::vector<CAgentStore::Record>& records) = 0;
    virtual std::string Payload(int64_t sequence) = 0;
    virtual std::string Setting(const std::string& name, const std::string& fallback) = 0;
    virtual void SetSetting(const std::string& name, const std::string& value) = 0;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
