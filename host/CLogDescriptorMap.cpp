#include "host/CLogDescriptorMap.h"

#include <stdexcept>

#include "host/CLogCatalogue.h"

namespace Zun {
namespace Common {
namespace Logs {

namespace {

CLogDescriptor::SymbolList MakeSymbols(const CLogCatalogue::Log& log) {
    CLogDescriptor::SymbolList symbols;
    for (const CLogCatalogue::Symbol& row : log.symbols) {
        std::set<Tags> tags;
        if (row.mandatory) {
            tags.insert(TAG_MANDATORY);
        }
        if (row.productKey) {
            tags.insert(TAG_PRODUCT_KEY);
        }
        symbols.push_back(boost::shared_ptr<const CSymbolDescriptor>(
            new CSymbolDescriptor(row.id, row.id, row.dataType, row.otlLength, tags, row.name)));
    }
    return symbols;
}

}  // namespace

const CLogDescriptorMap& CLogDescriptorMap::Instance() {
    static const CLogDescriptorMap instance(CLogCatalogue::Logs());
    return instance;
}

CLogDescriptorMap::CLogDescriptorMap(const std::vector<CLogCatalogue::Log>& logs) {
    for (const CLogCatalogue::Log& log : logs) {
        LogPtr descriptor(new CLogDescriptor(MakeSymbols(log), log.multiProduct));
        const size_t index = m_messages.size();
        m_messages.emplace_back(log.statusType, log.eventType, log.deltaType, log.eventLog, log.deltaLog);
        for (Kernel::MessageType type : {log.statusType, log.eventType, log.deltaType}) {
            Unique(m_messageByType.emplace(type, index).second, "message type", type);
        }
        Unique(m_logs.emplace(log.eventLog, descriptor).second, "log type", log.eventLog);
        Unique(m_logs.emplace(log.deltaLog, descriptor).second, "log type", log.deltaLog);
        for (const CLogCatalogue::Symbol& row : log.symbols) {
            Unique(m_logBySymbol.emplace(row.id, log.deltaLog).second, "symbol", row.id);
        }
    }
}

void CLogDescriptorMap::Unique(bool inserted, const char* what, int64_t value) {
    if (!inserted) {
        throw std::logic_error(std::string("Log catalogue gives ") + what + " " + std::to_string(value) +
                               " twice");
    }
}

CLogDescriptorMap::LogType CLogDescriptorMap::GetLogTypeBySymbol(int id) const {
    auto it = m_logBySymbol.find(id);
    if (it == m_logBySymbol.end()) {
        throw std::out_of_range("No log has symbol " + std::to_string(id));
    }
    return it->second;
}

const CLogMessageDescriptor& CLogDescriptorMap::GetMessageDescriptor(Kernel::MessageType type) const {
    auto it = m_messageByType.find(type);
    if (it == m_messageByType.end()) {
        throw std::out_of_range("Unknown log message type " + std::to_string(type));
    }
    return m_messages[it->second];
}

CLogDescriptorMap::LogPtr CLogDescriptorMap::GetLogDescriptor(LogType logType) const {
    auto it = m_logs.find(logType);
    if (it == m_logs.end()) {
        throw std::out_of_range("Unknown log type " + std::to_string(static_cast<int>(logType)));
    }
    return it->second;
}

CLogDescriptorMap::LogPtr CLogDescriptorMap::GetLogDescriptor(Kernel::MessageType type) const {
    return GetLogDescriptor(GetMessageDescriptor(type));
}

CLogDescriptorMap::LogPtr CLogDescriptorMap::GetLogDescriptor(const CLogMessageDescriptor& descriptor) const {
    return GetLogDescriptor(descriptor.GetDeltaLogType());
}

std::vector<const CLogMessageDescriptor*> CLogDescriptorMap::GetMessageDescriptors() const {
    std::vector<const CLogMessageDescriptor*> all;
    for (const CLogMessageDescriptor& descriptor : m_messages) {
        all.push_back(&descriptor);
    }
    return all;
}

std::string CLogDescriptorMap::GetSymbolName(int id) const {
    if (!HasSymbol(id)) {
        return std::to_string(id);
    }
    return GetLogDescriptor(GetLogTypeBySymbol(id))->GetSymbolDescriptor(id)->GetName();
}

std::string CLogDescriptorMap::LogTypeName(LogType logType) {
    return DataDefinition::Logs::LogType_Name(logType);
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
