#pragma once

#include <set>
#include <string>

#include "host/LogCatalogueTypes.h"

namespace Zun {
namespace Common {
namespace Logs {

// One symbol of a log as the catalogue describes it.
class CSymbolDescriptor {
public:
    CSymbolDescriptor(int eventId, int deltaId, SymbolDataType dataType, int otlLength, std::set<Tags> tags,
                      std::string name)
        : m_eventId(eventId),
          m_deltaId(deltaId),
          m_dataType(dataType),
          m_otlLength(otlLength),
          m_tags(std::move(tags)),
          m_name(std::move(name)) {}

    int GetEventSymbolType() const { return m_eventId; }
    int GetDeltaSymbolType() const { return m_deltaId; }
    SymbolDataType GetDataType() const { return m_dataType; }
    // Maximum text length in bytes; below 1 means unlimited.
    int GetOtlLength() const { return m_otlLength; }
    const std::set<Tags>& GetTags() const { return m_tags; }
    bool HasTag(Tags tag) const { return m_tags.count(tag) != 0; }
    const std::string& GetName() const { return m_name; }

private:
    int m_eventId;
    int m_deltaId;
    SymbolDataType m_dataType;
    int m_otlLength;
    std::set<Tags> m_tags;
    std::string m_name;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
