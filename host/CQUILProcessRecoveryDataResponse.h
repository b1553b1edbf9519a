#pragma once

#include <google/protobuf/util/message_differencer.h>
#include "host/CAgentMessage.h"
#include "host/proto/Encryption.pb.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {

// The agent's answer to a recovery-data request: the items it processed, by the product's ids.
class CQUILProcessRecoveryDataResponse : public CAgentMessage {
public:
    typedef DataDefinition::Encryption::FDERecoveryData Data;
    static constexpr Kernel::MessageType Type = 729;
    CQUILProcessRecoveryDataResponse() : CAgentMessage(Type, "QUILProcessRecoveryDataResponse") {}

    const Data& GetFDERecoveryData() const { return m_data; }
    Data& MutableFDERecoveryData() { return m_data; }

protected:
    bool ContentEquals(const CAgentMessage& other) const override {
        return google::protobuf::util::MessageDifferencer::Equals(
            m_data, static_cast<const CQUILProcessRecoveryDataResponse&>(other).m_data);
    }

private:
    Data m_data;
};

}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
