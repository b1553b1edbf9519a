#include "tools/agent/CAgentCommands.h"

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <boost/algorithm/string/trim.hpp>
#include <iostream>
#include <vector>

#include "platform/CTrustedPath.h"
#include "tools/agent/CControlClient.h"
#include "tools/agent/CControlServer.h"
#include "tools/agent/CLogsCommand.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

bool Accepted(const std::string& reply) {
    try {
        Poco::JSON::Parser parser;
        const Poco::Dynamic::Var parsed = parser.parse(reply);
        const auto object = parsed.extract<Poco::JSON::Object::Ptr>();
        return object->optValue<bool>("ok", false);
    } catch (const Poco::Exception&) {
        return false;
    }
}

// A task given as "-" comes from standard input and as "@FILE" from a file of ours, so that what
// it carries (a licence, say) never shows on a command line.
std::string TaskText(const std::string& argument, std::istream& input) {
    std::string text;
    if (argument == "-") {
        std::vector<char> buffer(CControlServer::kMaxLine + 2);
        input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        text.assign(buffer.data(), static_cast<size_t>(input.gcount()));
    } else if (!argument.empty() && argument[0] == '@') {
        text = Platform::CTrustedPath::ReadTrustedFile(argument.substr(1), CControlServer::kMaxLine + 1);
    } else {
        text = argument;
    }
    boost::algorithm::trim_right(text);
    if (text.size() > CControlServer::kMaxLine) {
        throw std::runtime_error("the task is longer than " + std::to_string(CControlServer::kMaxLine) +
                                 " bytes");
    }
    return text;
}

}  // namespace

int CAgentCommands::Send(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    try {
        const std::string reply = CControlClient::Send(options.control, TaskText(options.task, std::cin),
                                                       std::chrono::milliseconds(kSendTimeoutMilliseconds));
        out << reply << "\n";
        return Accepted(reply) ? 0 : 1;
    } catch (const std::exception& e) {
        errors << "quil-agent send: " << e.what() << "\n";
        return 1;
    }
}

int CAgentCommands::Logs(const CAgentOptions& options, std::ostream& out, std::ostream& errors) {
    return CLogsCommand(options, out, errors).Run();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
