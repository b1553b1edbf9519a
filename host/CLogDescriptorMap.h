#pragma once

#include <boost/shared_ptr.hpp>
#include <map>
#include <string>
#include <vector>

#include "host/CLogCatalogue.h"
#include "host/CLogDescriptor.h"
#include "host/CLogMessageDescriptor.h"

namespace Zun {
namespace Common {
namespace Logs {

// The read-only catalogue of every log the agent knows: its message types, symbols, data types and
// tags. Built once from the catalogue table; lookups of unknown types or symbols throw.
class CLogDescriptorMap {
public:
    typedef DataDefinition::Logs::LogType LogType;
    typedef boost::shared_ptr<const CLogDescriptor> LogPtr;

    static const CLogDescriptorMap& Instance();

    bool HasSymbol(int id) const { return m_logBySymbol.count(id) != 0; }
    LogType GetLogTypeBySymbol(int id) const;
    const CLogMessageDescriptor& GetMessageDescriptor(Kernel::MessageType type) const;
    LogPtr GetLogDescriptor(LogType logType) const;
    LogPtr GetLogDescriptor(Kernel::MessageType type) const;
    LogPtr GetLogDescriptor(const CLogMessageDescriptor& descriptor) const;

    // Every message descriptor, for tools that list the catalogue.
    std::vector<const CLogMessageDescriptor*> GetMessageDescriptors() const;
    // The human-readable name of a symbol, or its number when the catalogue does not know it.
    std::string GetSymbolName(int id) const;

    static std::string LogTypeName(LogType logType);

    // Builds the map of a catalogue; throws std::logic_error naming the first message type, log
    // type or symbol that the catalogue gives twice, rather than letting a later entry hide an
    // earlier one.
    explicit CLogDescriptorMap(const std::vector<CLogCatalogue::Log>& logs);

private:
    static void Unique(bool inserted, const char* what, int64_t value);

    std::vector<CLogMessageDescriptor> m_messages;
    std::map<Kernel::MessageType, size_t> m_messageByType;
    std::map<int, LogPtr> m_logs;  // by LogType, both sides
    std::map<int, LogType> m_logBySymbol;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
