#pragma once

#include <Poco/JSON/Object.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// One readable line per stored message, for `quil-agent logs --format summary` and the demo:
// "10044 protection status: all clear". Reads the content as CMessageEncoder writes it (rows of
// symbols, the product container, task identifiers and fields); types it does not know show
// their number and description. Control characters in stored text come out escaped.
class CMessageSummary {
public:
    // Gives a readable name for a task's first identifier, or "" to show the identifier itself.
    typedef std::function<std::string(const std::string& firstId)> TaskNamer;

    // fields: the message's content object (a `logs --json` line, which holds the same fields, will do).
    static std::string Line(uint32_t type, const std::string& description, const std::string& userContext,
                            const Poco::JSON::Object& fields, const TaskNamer& namer = TaskNamer());
    // Throws std::runtime_error when the stored content is not a JSON object (a damaged row).
    static std::string Line(const CAgentStore::Record& record, const TaskNamer& namer = TaskNamer());

    // From a stored row's content, read without building its objects (a page over the whole fleet);
    // both throw std::runtime_error for content that is not JSON.
    // What an encryption storage status log says, in the words of its summary line: "in order,
    // level N" or "no record in order".
    static std::string Storage(const std::string& content);
    // The soonest expiry among a licence log's licences (ISO time as stored), or "" when none has one.
    static std::string SoonestExpiry(const std::string& content);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
