#pragma once

#include <vector>

#include "host/LogCatalogueTypes.h"
#include "host/MessageType.h"
#include "host/proto/Logs.pb.h"

namespace Zun {
namespace Common {
namespace Logs {

// The catalogue as data: one entry per log, one row per symbol. CLogDescriptorMap is built from it.
class CLogCatalogue {
public:
    struct Symbol {
        int id;
        const char* name;
        SymbolDataType dataType;
        bool mandatory;
        bool productKey;
        int otlLength;  // 0: no text limit
    };

    struct Log {
        DataDefinition::Logs::LogType eventLog;
        DataDefinition::Logs::LogType deltaLog;
        Kernel::MessageType statusType;
        Kernel::MessageType eventType;
        Kernel::MessageType deltaType;
        bool multiProduct;
        std::vector<Symbol> symbols;
    };

    static const std::vector<Log>& Logs();
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
