#pragma once

#include "host/IMessage.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Recovery secrets are kept only until their escrow is confirmed: once a recovery-data response
// names an item by its internal id, that item leaves the payloads of the stored recovery-data
// requests, and a request with nothing left loses its payload. Its masked content stays.
class CEscrowRetention {
public:
    static const uint32_t kRequestType = 728;

    // Does nothing for messages other than recovery-data responses. Returns how many stored requests
    // changed. Throws what the store throws.
    static int Release(CAgentStore& store, const Common::Kernel::IMessage& message);
    // Stores the message's record; a recovery-data response only once the stored requests have let
    // go of what it confirms, so that a response that cannot be applied (a request payload that no
    // longer opens) is refused and not stored. Returns the record's sequence.
    static int64_t Store(CAgentStore& store, const Common::Kernel::IMessage& message,
                         const CAgentStore::Record& record);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
