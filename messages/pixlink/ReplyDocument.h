#pragma once

#include <array>
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

// The attributes of one element of a parsed reply. A lookup finds the same node as
// get_child("<xmlattr>.NAME"), the first attribute of that name, without building and walking a path
// each time. The texts are handed out for change, so that a parser may move them out of a tree it is
// about to discard.
class CReplyAttributes {
public:
    explicit CReplyAttributes(boost::property_tree::ptree& element);

    // A missing attribute throws the property tree's own bad-path error ("No such node (<xmlattr>.NAME)").
    std::string& Required(const std::string& name) const;
    // nullptr when the attribute is missing.
    std::string* Optional(const std::string& name) const;

    // Several lookups in one pass over the attributes: found[i] becomes the first attribute named
    // names[i], or nullptr.
    template <size_t N>
    std::array<std::string*, N> Find(const std::array<const std::string*, N>& names) const {
        std::array<std::string*, N> found{};
        Find(names.data(), found.data(), N);
        return found;
    }
    // A result of Find for a required attribute: nullptr throws as Required does.
    std::string& Required(std::string* found, const std::string& name) const;

private:
    void Find(const std::string* const* names, std::string** found, size_t count) const;

    boost::property_tree::ptree& m_element;
    boost::property_tree::ptree* m_attributes;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
