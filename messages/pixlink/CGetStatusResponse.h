#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <string>
#include <vector>

#include "messages/CGetStatusResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Parses the protection status document: one record per RECORD child of VELM.SECTION.STATUS.
class CGetStatusResponse : public ::Zun::Connectors::Common::CGetStatusResponse {
public:
    void Deserialize(const std::vector<uint8_t>& payload) override;
    const std::vector<ProtectionStatusRecord>& GetProtectionStatusRecords() const override {
        return m_records;
    }
    const std::string& GetRawDocument() const override { return m_document; }

private:
    static ProtectionStatusRecord ParseRecord(boost::property_tree::ptree& record);

    std::string m_document;
    std::vector<ProtectionStatusRecord> m_records;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
