#pragma once

#include <string>

namespace Zun {
namespace Common {
namespace Kernel {

// Who a bus message was sent on behalf of; replies carry the context of the message they answer.
class CUserContext {
public:
    CUserContext() = default;
    explicit CUserContext(std::string userName) : m_userName(std::move(userName)) {}

    const std::string& GetUserName() const { return m_userName; }
    bool IsDefault() const { return m_userName.empty(); }

private:
    std::string m_userName;
};

}  // namespace Kernel
}  // namespace Common
}  // namespace Zun
