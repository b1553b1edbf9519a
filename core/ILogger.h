#pragma once

#include "core/CLogEntry.h"

namespace Zun {
namespace Connectors {
namespace Common {

// Severity 0 is progress; 1 to 4 rise in importance.
class ILogger {
public:
    virtual ~ILogger() = default;
    virtual CLogEntry Log(int severity) = 0;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
