#pragma once

#include <string>

#include "channel/CChannelResponse.h"

namespace Zun {
namespace Connectors {
namespace Common {

// The product's configuration document, byte for byte.
class CExportConfigurationResponse : public CChannelResponse {
public:
    virtual const std::string& GetConfiguration() const = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
