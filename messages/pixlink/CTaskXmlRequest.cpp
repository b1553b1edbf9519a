#include "messages/pixlink/CTaskXmlRequest.h"

#include <stdexcept>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

CTaskXmlRequest::CTaskXmlRequest(boost::shared_ptr<const ::Zun::Common::Message::CTask> task,
                                 std::string function)
    : m_task(std::move(task)), m_function(std::move(function)) {}

std::string CTaskXmlRequest::BuildDocument() const {
    return Document(RequestTag(m_function), BuildNodes(), true);
}

std::string CTaskXmlRequest::BuildNodes() const {
    return UserDataNode();
}

std::string CTaskXmlRequest::UserDataNode() const {
    if (!m_task) {
        throw std::runtime_error("CTaskXmlRequest: No task message for " + m_function);
    }
    const std::string userData =
        m_task->GetFirstId().uuid() + ";" + m_task->GetSecondId().uuid() + ";" + m_task->GetThirdId().uuid();
    return Node("USERDATA", "STRING", userData);
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
