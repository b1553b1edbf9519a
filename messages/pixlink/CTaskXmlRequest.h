#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "host/CTask.h"
#include "messages/pixlink/CXmlRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// An XML request for an agent task. Its USERDATA node carries the task's three identifiers, which the
// product hands back with the task's result. The request keeps the task message alive.
class CTaskXmlRequest : public CXmlRequest {
protected:
    CTaskXmlRequest(boost::shared_ptr<const ::Zun::Common::Message::CTask> task, std::string function);

    // The DATA element holds what BuildNodes gives.
    std::string BuildDocument() const override;
    // USERDATA alone unless a request adds its own nodes.
    virtual std::string BuildNodes() const;
    std::string UserDataNode() const;

private:
    boost::shared_ptr<const ::Zun::Common::Message::CTask> m_task;
    std::string m_function;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
