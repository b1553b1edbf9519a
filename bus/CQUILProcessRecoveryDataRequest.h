#pragma once

#include "bus/CRequest.h"
#include "host/proto/Encryption.pb.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// Hands the product's recovery material to the agent, which forwards it to the management server.
class CQUILProcessRecoveryDataRequest : public CRequest {
public:
    typedef DataDefinition::Encryption::FDERecoveryData Data;
    static constexpr Kernel::MessageType Type = 728;

    Kernel::MessageType GetType() const override { return Type; }
    std::string Describe() const override { return "QUILProcessRecoveryDataRequest"; }
    bool Equals(const Kernel::IMessage& other) const override;

    const Data& GetFDERecoveryData() const { return m_data; }
    // Throws "Message is read only" once published.
    Data& MutableFDERecoveryData();

private:
    Data m_data;
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
