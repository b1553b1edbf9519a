#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Product {

// A request the product cannot make sense of; answered with an error status, never fatal.
class CBadRequest : public std::runtime_error {
public:
    explicit CBadRequest(const std::string& text) : std::runtime_error(text) {}
};

// One request of the module, taken apart. Which fields are filled depends on the command.
struct ProductRequest {
    std::uint32_t Command = 0;
    // Command 2: the document's function, its DATA nodes by name and the UIDs it confirms.
    std::string Function;
    std::map<std::string, std::string> Nodes;
    std::vector<std::string> ConfirmedPasswords;
    std::vector<std::string> ConfirmedData;
    // Command 109: the configuration, byte for byte.
    std::string Body;
    // Command 154: the agent's identifier.
    std::string AgentId;
};

// Reads request payloads: the command header and, by command, an XML request document, tagged
// items or raw bytes. Anything malformed throws CBadRequest saying what was wrong.
class CRequestParser {
public:
    static ProductRequest Parse(const std::vector<std::uint8_t>& payload);

private:
    static void ParseDocument(const std::string& text, ProductRequest& request);
    static void ParseTaggedItems(const std::string& body, ProductRequest& request);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
