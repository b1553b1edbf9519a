#pragma once

#include <string>
#include <vector>

#include "messages/CExportConfigurationResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

// Keeps the reply body, byte for byte, as the exported configuration.
class CExportConfigurationResponse : public ::Zun::Connectors::Common::CExportConfigurationResponse {
public:
    void Deserialize(const std::vector<uint8_t>& payload) override;
    const std::string& GetConfiguration() const override { return m_configuration; }

private:
    std::string m_configuration;
};

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
