#include "tools/agent/CAgentOptions.h"

#include "tools/agent/CAgentLogger.h"

#include <Poco/Path.h>
#include <limits.h>

#include <map>
#include <regex>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef CAgentOptions::Command Command;

const std::map<std::string, Command> kCommands = {{"run", Command::Run},     {"send", Command::Send},
                                                  {"logs", Command::Logs},   {"help", Command::Help},
                                                  {"--help", Command::Help}, {"-h", Command::Help}};

// The options each command takes; all but --json have a value.
const std::map<Command, std::vector<std::string>> kOptions = {
    {Command::Run,
     {"--db", "--module", "--log", "--control", "--max-queued", "--keep-rows", "--keep-days",
      "--log-max-bytes", "--log-level", "--grace-ms", "--object-root"}},
    {Command::Send, {"--db", "--control"}},
    {Command::Logs, {"--db", "--type", "--since", "--json"}},
    {Command::Help, {}}};

bool Takes(Command command, const std::string& option) {
    for (const std::string& known : kOptions.at(command)) {
        if (known == option) {
            return true;
        }
    }
    return false;
}

int64_t MessageTypeNumber(const std::string& text) {
    if (!std::regex_match(text, std::regex("[0-9]{1,10}")) || std::stoll(text) > UINT32_MAX) {
        throw std::invalid_argument("--type needs a message type number, not '" + text + "'");
    }
    return std::stoll(text);
}

const int kMaxLimitDigits = 15;

int64_t LimitNumber(const std::string& name, const std::string& text) {
    if (!std::regex_match(text, std::regex("[0-9]{1," + std::to_string(kMaxLimitDigits) + "}"))) {
        throw std::invalid_argument(name + " needs a whole number (0 for no limit), not '" + text + "'");
    }
    return std::stoll(text);
}

}  // namespace

CAgentOptions CAgentOptions::Parse(const std::vector<std::string>& arguments) {
    CAgentOptions options;
    if (arguments.empty()) {
        return options;
    }
    const auto command = kCommands.find(arguments[0]);
    if (command == kCommands.end()) {
        throw std::invalid_argument("unknown command '" + arguments[0] + "'");
    }
    options.command = command->second;
    options.Fill(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    options.FillDefaults();
    return options;
}

void CAgentOptions::Fill(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.rfind("--", 0) != 0) {
            if (command != Command::Send || !task.empty()) {
                throw std::invalid_argument("unexpected argument '" + argument + "'");
            }
            task = argument;
        } else if (!Takes(command, argument)) {
            throw std::invalid_argument("unknown option '" + argument + "'");
        } else if (argument == "--json") {
            json = true;
        } else if (i + 1 == arguments.size()) {
            throw std::invalid_argument(argument + " needs a value");
        } else {
            Option(argument, arguments[++i]);
        }
    }
    if (command == Command::Send && task.empty()) {
        throw std::invalid_argument("send needs a task, e.g. '{\"task\":\"block-password\"}'");
    }
}

void CAgentOptions::Option(const std::string& name, const std::string& value) {
    if (value.empty()) {
        throw std::invalid_argument(name + " needs a value");
    }
    if (name == "--db") {
        database = value;
    } else if (name == "--module") {
        module = value;
    } else if (name == "--log") {
        logFile = value;
    } else if (name == "--control") {
        control = value;
    } else if (name == "--keep-rows") {
        keepRows = LimitNumber(name, value);
    } else if (name == "--keep-days") {
        keepDays = LimitNumber(name, value);
    } else if (name == "--log-max-bytes") {
        logMaxBytes = LimitNumber(name, value);
    } else if (name == "--type") {
        type = MessageTypeNumber(value);
    } else if (name == "--since") {
        since = NormalizeSince(value);
    } else if (name == "--max-queued") {
        maxQueuedTasks = LimitNumber(name, value);
    } else if (name == "--log-level") {
        logLevel = CAgentLogger::LevelName(CAgentLogger::ParseLevel(value));
    } else if (name == "--grace-ms") {
        graceMs = LimitNumber(name, value);
    } else if (name == "--object-root") {
        objectRoot = value;
    }
}

void CAgentOptions::FillDefaults() {
    const Poco::Path folder = Poco::Path(database).parent();
    if (logFile.empty()) {
        logFile = Poco::Path(folder, "agent.log").toString();
    }
    if (control.empty()) {
        control = Poco::Path(folder, "agent.sock").toString();
    }
    if (module.empty()) {
        module = DefaultModulePath();
    }
}

std::string CAgentOptions::NormalizeSince(const std::string& text) {
    static const std::regex form("(\\d{4}-\\d{2}-\\d{2}(T\\d{2}:\\d{2}(:\\d{2}(\\.\\d{1,3})?)?)?)Z?");
    std::smatch match;
    if (!std::regex_match(text, match, form)) {
        throw std::invalid_argument("--since needs a UTC time like 2027-01-01T10:00:00Z, not '" + text + "'");
    }
    // Stored times end in 'Z'; a bound without it compares as the prefix it is.
    return match[1];
}

std::string CAgentOptions::Usage() {
    return "usage:\n"
           "  quil-agent run [--db FILE] [--module PATH] [--log FILE] [--control SOCKET] [--max-queued N]\n"
           "                 [--keep-rows N] [--keep-days N] [--log-max-bytes N]\n"
           "                 [--log-level LEVEL] [--grace-ms N] [--object-root FOLDER]\n"
           "      runs the connector module; agent tasks are read as JSON lines on standard input\n"
           "      and from the control socket; stops on SIGINT or SIGTERM; the database keeps the\n"
           "      newest N messages (100000) of the last N days (30), the log file rotates to\n"
           "      agent.log.1 past N bytes (10485760), and tasks the module has not finished are\n"
           "      refused past N (" +
           std::to_string(kDefaultMaxQueuedTasks) +
           "); 0 means no limit; entries below --log-level (INFO) are\n"
           "      not logged, TRACE adds the product's raw documents; the module has --grace-ms (5000)\n"
           "      to stop before it is forced\n"
           "  quil-agent send [--db FILE] [--control SOCKET] '<task JSON>' | - | @FILE\n"
           "      hands one task to a running agent; '-' reads it from standard input, @FILE from a file\n"
           "  quil-agent logs [--db FILE] [--type N] [--since TIME] [--json]\n"
           "      prints the stored messages as a table or as JSON lines\n"
           "  quil-agent --version | --help | <command> --help\n"
           "every command also takes --config FILE (default /etc/quil/agent.conf when it exists) and\n"
           "--print-config, which shows each setting's value and source and exits; a variable\n"
           "(QUIL_AGENT_DB, ...) overrides an option, which overrides the file\n"
           "defaults: --db var/agent.db; the log file and control socket sit next to the database\n"
           "(agent.log, agent.sock); the module is ../lib/libquil_connector.so from the binary on Linux,\n"
           "quil_connector.dll beside it on Windows, where tasks come from standard input only\n";
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
