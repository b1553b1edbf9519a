#pragma once

#include <string>
#include <vector>

#include "channel/CChannelRequest.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// A request whose body is a one-line XML request document. Values go into the document as they are:
// the product's reader expects them unescaped.
class CXmlRequest : public CChannelRequest {
public:
    std::vector<uint8_t> Serialize() override;

protected:
    virtual std::string BuildDocument() const = 0;

    // "<REQUEST FUNCTION=\"function\">"
    static std::string RequestTag(const std::string& function);
    // Declaration, envelope and request tag around the nodes; withData wraps them in a DATA element.
    static std::string Document(const std::string& requestTag, const std::string& nodes, bool withData);
    static std::string Node(const std::string& name, const std::string& type, const std::string& value);
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
