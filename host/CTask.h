#pragma once

#include <string>
#include "host/CAgentMessage.h"
#include "host/proto/Common.pb.h"

namespace Zun {
namespace Common {
namespace Message {

// An agent task sent by the management server. Its three identifiers name the task on the server
// side; results reported for the task carry them back.
class CTask : public CAgentMessage {
public:
    typedef DataDefinition::Common::Uuid Uuid;

    CTask(Kernel::MessageType type, std::string name) : CAgentMessage(type, std::move(name)) {}

    const Uuid& GetFirstId() const { return m_first; }
    const Uuid& GetSecondId() const { return m_second; }
    const Uuid& GetThirdId() const { return m_third; }
    static bool IsSet(const Uuid& id) { return id.IsInitialized(); }
    bool HasTaskIdentifiers() const { return IsSet(m_first) && IsSet(m_second) && IsSet(m_third); }

    void SetTaskIdentifiers(const std::string& first, const std::string& second, const std::string& third) {
        m_first.set_uuid(first);
        m_second.set_uuid(second);
        m_third.set_uuid(third);
    }

protected:
    bool ContentEquals(const CAgentMessage& other) const override {
        const CTask& task = static_cast<const CTask&>(other);
        return SameId(m_first, task.m_first) && SameId(m_second, task.m_second) &&
               SameId(m_third, task.m_third) && TaskContentEquals(task);
    }
    virtual bool TaskContentEquals(const CTask&) const { return true; }

private:
    static bool SameId(const Uuid& a, const Uuid& b) {
        return a.has_uuid() == b.has_uuid() && a.uuid() == b.uuid();
    }

    Uuid m_first;
    Uuid m_second;
    Uuid m_third;
};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
