#pragma once

#include <string>

#include "host/IMessage.h"
#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Tools {

// Renders bus messages for people: logs as rows of "name (id) = value" lines using the catalogue's
// symbol names; other messages by their description. Blobs are shown by size only, since they may
// hold exported configuration or other material that does not belong on a terminal.
class CLogFormatter {
public:
    static std::string Format(const Common::Kernel::IMessage& message);
    static std::string FormatContainer(const Common::Logs::ISymbolContainer& container, const std::string& indent);
    static std::string FormatValue(const Common::DataDefinition::Common::MultiDataType& value);
};

}  // namespace Tools
}  // namespace Zun
