#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/api/link.pb.h"

namespace Zun {
namespace Tools {
namespace Agent {

class ILinkStore;

// Reads the rows the server link sends: committed rows only (a transaction still open may yet be
// rolled back, and its sequences handed out again), oldest first, with the recovery items of a
// recovery-data request unsealed from its payload.
class CLinkRowReader {
public:
    static const uint32_t kRecoveryDataRequest = 728;

    explicit CLinkRowReader(ILinkStore& store);

    // Up to `count` committed rows after `sequence`.
    std::vector<quil::link::v1::StoredRow> After(int64_t sequence, std::size_t count);
    // Overwrites the secrets the rows carry; the caller does it once they are sent.
    static void Wipe(std::vector<quil::link::v1::StoredRow>& rows);
    static void Wipe(quil::link::v1::StoredRow& row);

private:
    void AddRecoveryItems(quil::link::v1::StoredRow& row);

    ILinkStore& m_store;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
