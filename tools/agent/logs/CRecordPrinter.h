#pragma once

#include <Poco/Dynamic/Var.h>
#include <string>

#include "tools/agent/logs/CMessageSummary.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Shows stored messages for `quil-agent logs`: as a readable block per message, as one JSON
// object per line, or as one summary line each. All render the stored content only, never the
// payload, so secrets that the encoder masked stay masked; control characters in stored text are
// escaped in all of them (CTerminalText).
class CRecordPrinter {
public:
    // Throws std::runtime_error when the stored content is not a JSON object (a damaged row).
    static std::string Table(const CAgentStore::Record& record);
    // The column titles above the first message of a table.
    static std::string TableHeader();
    static std::string JsonLine(const CAgentStore::Record& record);
    // "#12 2026-12-06T10:00:00.123Z 10044 protection status: all clear" (CMessageSummary).
    static std::string Summary(const CAgentStore::Record& record,
                               const CMessageSummary::TaskNamer& namer = CMessageSummary::TaskNamer());

private:
    static std::string Symbols(const Poco::Dynamic::Var& symbols, const std::string& indent);
    static std::string SymbolValue(const Poco::Dynamic::Var& symbol);
    static std::string Plain(const Poco::Dynamic::Var& value);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
