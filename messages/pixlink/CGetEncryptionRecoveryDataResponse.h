#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <vector>

#include "messages/CGetEncryptionRecoveryDataResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Parses the recovery document: RECOVERY_PASSWORD and RECOVERY_DATA children of VELM.MESSAGE.RESPONSE.
// The values are secrets; no failure of this parser quotes them.
class CGetEncryptionRecoveryDataResponse
    : public ::Zun::Connectors::Common::CGetEncryptionRecoveryDataResponse {
public:
    void Deserialize(const std::vector<uint8_t>& payload) override;
    const RecoveryDataSet& GetRecoveryDataSet() const override { return m_set; }

private:
    static RecoveryPasswordRecord ParsePassword(boost::property_tree::ptree& element);
    static RecoveryDataRecord ParseData(boost::property_tree::ptree& element);

    RecoveryDataSet m_set;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
