#pragma once

#include <cstdint>

#include "host/IMessage.h"

namespace Zun {
namespace Common {
namespace Module {

// A request between modules. The host owns the meaning of its number and flag; a module that
// creates a request leaves both zero.
class CRequest : public Kernel::IMessage {
public:
    uint32_t GetRequestNumber() const { return m_number; }
    bool GetRequestFlag() const { return m_flag; }

private:
    uint32_t m_number = 0;
    bool m_flag = false;
};

}  // namespace Module
}  // namespace Common
}  // namespace Zun
