#pragma once

#include <google/protobuf/util/message_differencer.h>
#include "host/CTask.h"
#include "host/proto/TaskFDE.pb.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace QUILConnector {
namespace Task {

// Agent task: switch the product's maintenance mode on for some boot cycles, seconds or until a date.
class CEnableFDEMaintenanceMode : public CTask {
public:
    typedef DataDefinition::Task::FDE::EnableMaintenanceMode Data;
    static constexpr Kernel::MessageType Type = 740;
    CEnableFDEMaintenanceMode() : CTask(Type, "EnableFDEMaintenanceMode") {}

    const Data& GetEnableMaintenanceMode() const { return m_data; }
    Data& MutableEnableMaintenanceMode() { return m_data; }

protected:
    bool TaskContentEquals(const CTask& other) const override {
        return google::protobuf::util::MessageDifferencer::Equals(
            m_data, static_cast<const CEnableFDEMaintenanceMode&>(other).m_data);
    }

private:
    Data m_data;
};

}  // namespace Task
}  // namespace QUILConnector
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
