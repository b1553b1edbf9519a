#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <locale>
#include <string>
#include <vector>

#include "messages/CGetLicenseResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Parses the licence document: one record per License element of every LICENSEINFO group under
// VELM.SECTION.INFORMATION.
class CGetLicenseResponse : public ::Zun::Connectors::Common::CGetLicenseResponse {
public:
    void Deserialize(const std::vector<uint8_t>& payload) override;
    const std::vector<LicenseRecord>& GetLicenseRecords() const override { return m_records; }
    const std::string& GetRawDocument() const override { return m_document; }

private:
    void ParseGroup(boost::property_tree::ptree& group, const std::ctype<char>& classes);
    static LicenseRecord ParseLicense(boost::property_tree::ptree& license, const std::ctype<char>& classes);

    std::string m_document;
    std::vector<LicenseRecord> m_records;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
