#include "messages/pixlink/ReplyDocument.h"

#include <algorithm>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <stdexcept>

#include "channel/CPixlinkChannelBuffer.h"
#include "messages/pixlink/XmlNesting.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

// Header size, status, body length.
const size_t ReplyHeaderSize = 12;

const std::string AttributesKey = "<xmlattr>";

}  // namespace

std::string ReadReplyBody(const std::vector<uint8_t>& payload) {
    // Only the header goes through the channel's reader: the body is the bulk of a reply, and it is
    // copied once, straight from the payload into the text, after its length has been checked.
    CPixlinkChannelBuffer header(
        std::vector<uint8_t>(payload.begin(), payload.begin() + std::min(payload.size(), ReplyHeaderSize)));
    header.ReadUInt32();
    header.ReadUInt32();
    const uint32_t bodyLength = header.ReadUInt32();
    if (bodyLength > payload.size() - ReplyHeaderSize) {
        throw std::runtime_error("PixlinkChannelBuffer: Buffer is not full enough");
    }
    const char* const body = reinterpret_cast<const char*>(payload.data()) + ReplyHeaderSize;
    return std::string(body, bodyLength);
}

boost::property_tree::ptree ParseReplyDocument(const std::string& document) {
    if (MeasureElementNesting(document, MaxReplyNesting) > MaxReplyNesting) {
        throw boost::property_tree::xml_parser_error("elements nested too deeply", std::string(), 0);
    }
    // Read in place: replies can be large and the reader makes its own copy anyway.
    boost::iostreams::stream<boost::iostreams::array_source> stream(document.data(), document.size());
    boost::property_tree::ptree tree;
    boost::property_tree::read_xml(stream, tree);
    // The reader accepts a document without any node; for a reply that is as broken as bad syntax.
    if (tree.empty()) {
        throw boost::property_tree::xml_parser_error("no element found", std::string(), 0);
    }
    return tree;
}

CReplyAttributes::CReplyAttributes(boost::property_tree::ptree& element)
    : m_element(element), m_attributes(nullptr) {
    const auto found = element.find(AttributesKey);
    if (found != element.not_found()) {
        m_attributes = &found->second;
    }
}

std::string* CReplyAttributes::Optional(const std::string& name) const {
    if (m_attributes == nullptr) {
        return nullptr;
    }
    const auto found = m_attributes->find(name);
    return found == m_attributes->not_found() ? nullptr : &found->second.data();
}

std::string& CReplyAttributes::Required(const std::string& name) const {
    return Required(Optional(name), name);
}

std::string& CReplyAttributes::Required(std::string* found, const std::string& name) const {
    if (found != nullptr) {
        return *found;
    }
    // Let the tree's own lookup fail, so the error is exactly the one a path lookup gives.
    return m_element.get_child(boost::property_tree::ptree::path_type(AttributesKey + "." + name)).data();
}

void CReplyAttributes::Find(const std::string* const* names, std::string** found, size_t count) const {
    if (m_attributes == nullptr) {
        return;
    }
    // The reader appends attributes in document order, and the tree's keyed lookup gives the first of
    // equal keys in that order; keeping the first match of each name gives the same nodes.
    size_t missing = count;
    for (auto& attribute : *m_attributes) {
        for (size_t i = 0; i < count; ++i) {
            if (found[i] == nullptr && attribute.first == *names[i]) {
                found[i] = &attribute.second.data();
                --missing;
                break;
            }
        }
        if (missing == 0) {
            return;
        }
    }
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
