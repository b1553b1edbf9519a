#pragma once

#include <string>
#include "host/CAgentMessage.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Policies {

// A policy for the product; its configuration text is handed to the product unchanged.
class CApplyPolicy : public CAgentMessage {
public:
    static constexpr Kernel::MessageType Type = 188;
    explicit CApplyPolicy(std::string configuration = std::string())
        : CAgentMessage(Type, "ApplyPolicy"), m_configuration(std::move(configuration)) {}

    const std::string& GetConfiguration() const { return m_configuration; }

protected:
    bool ContentEquals(const CAgentMessage& other) const override {
        return m_configuration == static_cast<const CApplyPolicy&>(other).m_configuration;
    }

private:
    std::string m_configuration;
};

}  // namespace Policies
}  // namespace Message
}  // namespace Common
}  // namespace Zun
