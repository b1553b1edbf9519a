#include "messages/pixlink/CXmlRequest.h"

#include "messages/pixlink/CommandPayload.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::vector<uint8_t> CXmlRequest::Serialize() {
    // The document is built before the payload so that a failing document allocates nothing large.
    const std::string document = BuildDocument();
    std::vector<uint8_t> payload = StartPayload(XmlDocumentCommand);
    AppendText(payload, document);
    return payload;
}

std::string CXmlRequest::RequestTag(const std::string& function) {
    return "<REQUEST FUNCTION=\"" + function + "\">";
}

std::string CXmlRequest::Document(const std::string& requestTag, const std::string& nodes, bool withData) {
    std::string document = "<?xml version=\"1.0\" encoding=\"utf-8\"?><VELM><MESSAGE VERSION=\"1\">";
    document += requestTag;
    if (withData) {
        document += "<DATA>" + nodes + "</DATA>";
    } else {
        document += nodes;
    }
    document += "</REQUEST></MESSAGE></VELM>";
    return document;
}

std::string CXmlRequest::Node(const std::string& name, const std::string& type, const std::string& value) {
    return "<NODE NAME=\"" + name + "\" TYPE=\"" + type + "\" VALUE=\"" + value + "\" />";
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
