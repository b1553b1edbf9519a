#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Deepest element nesting accepted in a reply document; the product's documents need six levels.
const size_t MaxReplyNesting = 100;

// Reads the reply header and the body it announces; only the body length of the header is used.
// Throws "PixlinkChannelBuffer: Buffer is not full enough" when either is cut short.
std::string ReadReplyBody(const std::vector<uint8_t>& payload);

// Reads an XML reply document with the property tree's reader and its default options. Malformed
// text, an empty document and nesting beyond MaxReplyNesting throw the reader's xml_parser_error.
boost::property_tree::ptree ParseReplyDocument(const std::string& document);

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
