#include "messages/pixlink/ReplyDocument.h"

#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "channel/CPixlinkChannelBuffer.h"
#include "messages/pixlink/XmlNesting.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

std::string ReadReplyBody(const std::vector<uint8_t>& payload) {
    CPixlinkChannelBuffer reader;
    reader.Bytes().assign(payload.begin(), payload.end());
    reader.ReadUInt32();
    reader.ReadUInt32();
    const uint32_t bodyLength = reader.ReadUInt32();
    const std::vector<uint8_t> body = reader.ReadBytes(bodyLength);
    return std::string(body.begin(), body.end());
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

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
