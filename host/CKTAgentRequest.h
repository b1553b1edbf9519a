#pragma once

#include <cstdint>
#include "host/CAgentMessage.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace KTAgentConnector {

// The sibling connector's query request; it selects a query by its request kind like type 9 does.
class CKTAgentRequest : public CAgentMessage {
public:
    static constexpr Kernel::MessageType Type = 8;
    explicit CKTAgentRequest(uint32_t requestKind = 0)
        : CAgentMessage(Type, "KTAgentRequest"), m_requestKind(requestKind) {}

    uint32_t GetRequestKind() const { return m_requestKind; }

protected:
    bool ContentEquals(const CAgentMessage& other) const override {
        return m_requestKind == static_cast<const CKTAgentRequest&>(other).m_requestKind;
    }

private:
    uint32_t m_requestKind;
};

}  // namespace KTAgentConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
