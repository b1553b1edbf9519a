#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "bus/CLogMessage.h"
#include "logs/CSymbolContainer.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

// One thing that happened, as a single symbol container. Serves the event type and the delta type
// of a log; which one decides the symbol ids and the name.
class CEventLog : public CLogMessage {
public:
    typedef boost::shared_ptr<Common::Logs::CSymbolContainer> ContainerPtr;

    explicit CEventLog(Kernel::MessageType type);

    Kernel::MessageType GetType() const override { return m_type; }
    std::string Describe() const override;
    bool Equals(const Kernel::IMessage& other) const override;
    void Validate() const override;
    void SetReadOnly() override;
    const ContainerPtr& GetContainer() const { return m_container; }

private:
    std::string LogName() const;

    Kernel::MessageType m_type;
    ContainerPtr m_container;
    // Owned by the agent host; initialised and carried along only.
    [[maybe_unused]] bool m_hostFlag = true;
    [[maybe_unused]] int64_t m_hostNumber = -1;
};

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
