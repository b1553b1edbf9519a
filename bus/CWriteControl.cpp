#include "bus/CWriteControl.h"

#include <stdexcept>
#include <string>

namespace Zun {
namespace Common {
namespace Message {

void CWriteControl::CheckWritable() const {
    if (m_readOnly) {
        throw std::runtime_error(std::string("Message") + " is read only");
    }
}

}  // namespace Message
}  // namespace Common
}  // namespace Zun
