#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/product/ProductRecords.h"

namespace Zun {
namespace Tools {
namespace Product {

// Builds the product's replies: the reply header and the documents and records the module reads.
// Text from the state is escaped, so any seat name or identifier survives the XML reader.
class CReplyBuilder {
public:
    // {12, status, body length} followed by the body.
    static std::vector<std::uint8_t> Payload(std::uint32_t status, const std::string& body);

    static std::string StatusDocument(const std::vector<StatusEntry>& entries);
    static std::string LicenceDocument(const std::vector<LicenceEntry>& entries);
    // Passwords and data are scrambled with the key tables shared with the module, then Base64-encoded.
    static std::string RecoveryDocument(const std::vector<RecoveryPasswordEntry>& passwords,
                                        const std::vector<RecoveryDataEntry>& data);
    // The binary task-status record: {record size, result, 12} and the user data as UTF-16LE with a
    // terminating zero unit.
    static std::string TaskRecord(const TaskResult& result);
    // What a finished XML command answers; the module does not read it, people do.
    static std::string CommandDocument(const std::string& function, std::uint32_t result);

    static std::string Escape(const std::string& text);
    static std::string Scramble(const std::string& secret);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
