#pragma once

#include <Poco/JSON/Object.h>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/IMessage.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Reads one agent task written as a JSON object on one line and builds the bus message the agent
// library would deliver for it, e.g. {"task":"block-password","ids":["<uuid>","<uuid>","<uuid>"]}.
// Tasks carry their three task identifiers; missing ones are generated. A task the module could not
// turn into a request (no maintenance window, a date outside its calendar, a product type it does
// not export) is refused here, naming the field: the module would only retry it with reconnects,
// hold up the tasks behind it and report it failed. So are fields given twice, integers beyond
// their range and unknown fields. A UTF-8 byte order mark at the start of the line is dropped.
class CTaskParser {
public:
    typedef boost::shared_ptr<Common::Kernel::IMessage> MessagePtr;
    typedef std::function<std::string()> IdGenerator;

    struct Task {
        std::string name;
        MessagePtr message;
        std::vector<std::string> ids;  // empty for messages that are no agent tasks
        std::string line;              // the task restated with its identifiers, for a later run
        // The module keeps the message once it ran (the last policy, applied again after every
        // reconnect): its release says nothing about when the task ended.
        bool keptByModule = false;
    };

    explicit CTaskParser(IdGenerator generate);

    // A task as it arrives, or as an earlier run stored it: what depends on the moment (a
    // maintenance window already over) is refused only when it arrives, as a stored task was taken.
    enum class Moment { New, Stored };
    // Throws std::invalid_argument with a text that names what is wrong with the line.
    Task Parse(const std::string& line, Moment moment = Moment::New) const;
    // The task names this parser knows, for help texts.
    std::vector<std::string> Names() const;

private:
    typedef Poco::JSON::Object Json;
    struct Kind {
        std::set<std::string> fields;  // besides "task"
        bool hasIds;
        std::function<MessagePtr(const Json&)> build;
        bool keptByModule = false;
    };

    static std::map<std::string, Kind> Kinds();
    std::vector<std::string> Identify(const Json& task, const Kind& kind,
                                      Common::Kernel::IMessage& message) const;
    static std::string Restatement(Json json, const std::vector<std::string>& ids);
    static void CheckFields(const std::string& name, const Json& task, const Kind& kind);

    IdGenerator m_generate;
    std::map<std::string, Kind> m_kinds;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
