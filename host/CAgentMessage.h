#pragma once

#include <string>
#include <typeinfo>
#include "host/IMessage.h"

namespace Zun {
namespace Common {
namespace Message {

// Base of the agent library's own bus messages: a fixed type and name; two messages are equal when
// they are of the same class and type and their content matches.
class CAgentMessage : public Kernel::IMessage {
public:
    CAgentMessage(Kernel::MessageType type, std::string name) : m_type(type), m_name(std::move(name)) {}

    Kernel::MessageType GetType() const override { return m_type; }
    std::string Describe() const override { return m_name; }
    bool Equals(const Kernel::IMessage& other) const override {
        if (other.GetType() != m_type || typeid(other) != typeid(*this)) {
            return false;
        }
        return ContentEquals(static_cast<const CAgentMessage&>(other));
    }

protected:
    virtual bool ContentEquals(const CAgentMessage& other) const = 0;

private:
    Kernel::MessageType m_type;
    std::string m_name;
};

}  // namespace Message
}  // namespace Common
}  // namespace Zun
