#include "tools/product/CRequestParser.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdio>
#include <cstring>

#include "messages/pixlink/ReplyDocument.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

using boost::property_tree::ptree;

constexpr std::uint32_t kTagAgentId = 0x100002;

std::uint32_t Word(const std::uint8_t* bytes) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    return word;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", value);
    return text;
}

std::string Attribute(const ptree& element, const std::string& name, const std::string& where) {
    const auto value = element.get_optional<std::string>("<xmlattr>." + name);
    if (!value) {
        throw CBadRequest(where + " has no " + name + " attribute");
    }
    return *value;
}

void ReadNodes(const ptree& data, ProductRequest& request) {
    for (const auto& child : data) {
        if (child.first != "NODE") {
            continue;
        }
        const std::string name = Attribute(child.second, "NAME", "NODE");
        if (!request.Nodes.emplace(name, Attribute(child.second, "VALUE", "NODE " + name)).second) {
            throw CBadRequest("NODE " + name + " appears twice");
        }
    }
}

}  // namespace

ProductRequest CRequestParser::Parse(const std::vector<std::uint8_t>& payload) {
    if (payload.size() < kCommandHeaderSize) {
        throw CBadRequest("request of " + std::to_string(payload.size()) + " bytes has no command header");
    }
    if (Word(&payload[0]) != kCommandHeaderSize) {
        throw CBadRequest("command header size " + std::to_string(Word(&payload[0])) + ", expected 12");
    }
    if (Word(&payload[4]) != kPluginId) {
        throw CBadRequest("request for unknown plug-in " + Hex(Word(&payload[4])));
    }
    ProductRequest request;
    request.Command = Word(&payload[8]);
    const std::string body(payload.begin() + kCommandHeaderSize, payload.end());
    if (request.Command == kCommandXmlDocument) {
        ParseDocument(body, request);
    } else if (request.Command == kCommandSendAgentUuid) {
        ParseTaggedItems(body, request);
    } else {
        request.Body = body;
    }
    return request;
}

void CRequestParser::ParseDocument(const std::string& text, ProductRequest& request) {
    ptree tree;
    try {
        // The module's own reader of documents, with its guard against hostile nesting.
        tree = Connectors::Common::Pixlink::Messages::ParseReplyDocument(text);
    } catch (const boost::property_tree::xml_parser_error& e) {
        throw CBadRequest(std::string("request document is not well-formed: ") + e.what());
    }
    const auto found = tree.get_child_optional("VELM.MESSAGE.REQUEST");
    if (!found) {
        throw CBadRequest("request document has no VELM.MESSAGE.REQUEST element");
    }
    const ptree& element = *found;
    request.Function = Attribute(element, "FUNCTION", "REQUEST");
    const auto plugin = element.get_optional<std::string>("<xmlattr>.PLUGIN");
    if (plugin && *plugin != "1000600") {
        throw CBadRequest("request document for unknown plug-in " + *plugin);
    }
    for (const auto& child : element) {
        if (child.first == "DATA") {
            ReadNodes(child.second, request);
        } else if (child.first == "RECOVERY_PASSWORD") {
            request.ConfirmedPasswords.push_back(Attribute(child.second, "UID", child.first));
        } else if (child.first == "RECOVERY_DATA") {
            request.ConfirmedData.push_back(Attribute(child.second, "UID", child.first));
        }
    }
}

void CRequestParser::ParseTaggedItems(const std::string& body, ProductRequest& request) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.data());
    bool found = false;
    for (std::size_t at = 0; at < body.size();) {
        if (body.size() - at < 8) {
            throw CBadRequest("tagged item cut short at byte " + std::to_string(at));
        }
        const std::uint32_t tag = Word(bytes + at);
        const std::uint32_t length = Word(bytes + at + 4);
        at += 8;
        if (length > body.size() - at) {
            throw CBadRequest("tagged item " + Hex(tag) + " announces " + std::to_string(length) + " bytes");
        }
        if (tag == kTagAgentId) {
            std::string value = body.substr(at, length);
            request.AgentId = value.substr(0, value.find('\0'));
            found = true;
        }
        at += length;
    }
    if (!found) {
        throw CBadRequest("no agent identifier item");
    }
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
