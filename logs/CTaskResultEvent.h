#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "host/proto/Common.pb.h"
#include "logs/CEventLog.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The task result event (log 10368): the state of one agent task, named by its three identifiers.
// The worker reports failed tasks with it; tasks report product results and completed exports; the
// agent host reports tasks it had to give up across a restart.
class CTaskResultEvent {
public:
    typedef Zun::Common::DataDefinition::Common::Uuid Uuid;
    static constexpr Zun::Common::Kernel::MessageType Type = 10368;
    // The connector's product identifier, which every task result event carries.
    static constexpr uint64_t ConnectorProductId = 0x071000000000081BULL;
    // A task given up on (code), and its state then.
    static constexpr int64_t CanceledCode = 0x10000009BLL;
    static constexpr int64_t StateFailed = 40;
    static constexpr int32_t SeverityError = 4;

    struct Content {
        int64_t connectorProductId;
        std::string instanceUUID;
        Uuid first;
        Uuid second;
        Uuid third;
        int64_t code;
        std::string text;  // left out of the event when empty
        int64_t state;
        int32_t severity;
    };

    // Returns the event filled and read-only.
    static boost::shared_ptr<Zun::Common::Message::Logs::CEventLog> Build(const Content& content);
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
