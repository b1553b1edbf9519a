#pragma once

#include <cstdint>

#include "bus/CMessage.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// Asks the connector to run a query against the product; the request kind selects which.
class CQUILRequest : public CMessage {
public:
    static constexpr Kernel::MessageType Type = 9;
    enum RequestKind : uint32_t {
        KindStatus = 0,
        KindLicense = 1,
        KindTaskStatus = 2,
        KindRecoveryData = 3,
    };

    explicit CQUILRequest(uint32_t requestKind = KindStatus) : m_requestKind(requestKind) {}

    Kernel::MessageType GetType() const override { return Type; }
    std::string Describe() const override { return "QUILRequest"; }
    bool Equals(const Kernel::IMessage& other) const override;

    uint32_t GetRequestKind() const { return m_requestKind; }
    void SetRequestKind(uint32_t requestKind);

private:
    uint32_t m_requestKind;
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
