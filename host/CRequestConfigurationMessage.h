#pragma once

#include <google/protobuf/util/message_differencer.h>
#include "host/CTask.h"
#include "host/proto/TaskConfiguration.pb.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Configuration {

// Agent task: the management side asks for the configuration of a product type.
class CRequestConfigurationMessage : public CTask {
public:
    typedef DataDefinition::Task::Configuration::RequestConfiguration Data;
    static constexpr Kernel::MessageType Type = 5;
    CRequestConfigurationMessage() : CTask(Type, "RequestConfiguration") {}

    const Data& GetRequestConfiguration() const { return m_data; }
    Data& MutableRequestConfiguration() { return m_data; }

protected:
    bool TaskContentEquals(const CTask& other) const override {
        return google::protobuf::util::MessageDifferencer::Equals(
            m_data, static_cast<const CRequestConfigurationMessage&>(other).m_data);
    }

private:
    Data m_data;
};

}  // namespace Configuration
}  // namespace Message
}  // namespace Common
}  // namespace Zun
