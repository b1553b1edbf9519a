#pragma once

#include <boost/shared_ptr.hpp>

#include "bus/CMessage.h"

namespace Zun {
namespace Common {
namespace Message {

// Published by the connector core just before the first request of an agent task (one that carries
// task identifiers) goes to the product. A host that keeps tasks across restarts learns from it which
// task may have reached the product: one that never did can safely be delivered again after a crash,
// one that did must not run twice. Publish returns only once such a host has that on disk.
class CTaskHandOver : public CMessage {
public:
    static constexpr Kernel::MessageType Type = 60001;

    explicit CTaskHandOver(boost::shared_ptr<Kernel::IMessage> task) : m_task(std::move(task)) {}

    Kernel::MessageType GetType() const override { return Type; }
    std::string Describe() const override { return "TaskHandOver"; }
    bool Equals(const Kernel::IMessage& other) const override;

    // The task message exactly as the bus delivered it.
    const boost::shared_ptr<Kernel::IMessage>& GetTask() const { return m_task; }

private:
    boost::shared_ptr<Kernel::IMessage> m_task;
};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
