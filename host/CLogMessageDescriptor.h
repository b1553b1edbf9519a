#pragma once

#include "host/MessageType.h"
#include "host/proto/Logs.pb.h"

namespace Zun {
namespace Common {
namespace Logs {

// The three bus message types of one log (status, event, delta) and the log types they carry.
class CLogMessageDescriptor {
public:
    typedef DataDefinition::Logs::LogType LogType;

    CLogMessageDescriptor(Kernel::MessageType status, Kernel::MessageType event, Kernel::MessageType delta,
                          LogType eventLog, LogType deltaLog)
        : m_status(status), m_event(event), m_delta(delta), m_eventLog(eventLog), m_deltaLog(deltaLog) {}

    Kernel::MessageType GetStatusMessageType() const { return m_status; }
    Kernel::MessageType GetEventMessageType() const { return m_event; }
    Kernel::MessageType GetDeltaMessageType() const { return m_delta; }
    LogType GetEventLogType() const { return m_eventLog; }
    LogType GetDeltaLogType() const { return m_deltaLog; }
    bool IsDelta(Kernel::MessageType type) const { return type == m_delta; }

private:
    Kernel::MessageType m_status;
    Kernel::MessageType m_event;
    Kernel::MessageType m_delta;
    LogType m_eventLog;
    LogType m_deltaLog;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
