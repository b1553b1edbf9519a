#include "tools/agent/CAgentOptions.h"

#include "ipc/CServerAccount.h"
#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/logs/CUtcTime.h"
#include "tools/common/CSuggestion.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/Path.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>
#include <limits.h>

#include <algorithm>
#include <map>
#include <regex>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef CAgentOptions::Command Command;

const std::map<std::string, Command> kCommands = {{"run", Command::Run},
                                                  {"send", Command::Send},
                                                  {"logs", Command::Logs},
                                                  {"help", Command::Help},
                                                  {"--help", Command::Help},
                                                  {"-h", Command::Help},
                                                  {"status", Command::Status},
                                                  {"install-service", Command::InstallService},
                                                  {"uninstall-service", Command::UninstallService}};

// The options each command takes; all but the flags have a value.
const std::map<Command, std::vector<std::string>> kOptions = {
    {Command::Run,
     {"--db", "--module", "--log", "--control", "--max-queued", "--keep-rows", "--keep-days",
      "--log-max-bytes", "--log-level", "--grace-ms", "--object-root", "--set-aside-unreadable", "--server",
      "--server-bundle", "--product-account", "--service"}},
    {Command::Send, {"--db", "--control", "--wait", "--timeout"}},
    {Command::Logs,
     {"--db", "--type", "--since", "--until", "--task", "--limit", "--follow", "--format", "--json"}},
    {Command::Help, {}},
    {Command::Status, {"--db", "--control", "--json"}},
    {Command::InstallService, {"--db", "--control"}},
    {Command::UninstallService, {"--db", "--control"}}};

// "YYYY-MM-DD", before the time of day.
const size_t kDateLength = 10;

const std::vector<std::string> kFlags = {"--json", "--follow", "--wait", "--set-aside-unreadable",
                                         "--service"};
// Short forms, of `logs` only.
const std::map<std::string, std::string> kShortLogsOptions = {{"-n", "--limit"}, {"-f", "--follow"}};

// A command `help` can explain.
bool IsTopic(const std::string& argument) {
    const auto command = kCommands.find(argument);
    return command != kCommands.end() && command->second != Command::Help;
}

// host:port with a port in 1..65535; the host may be a name, an IPv4 address or [IPv6].
std::string ServerAddress(const std::string& value) {
    const std::size_t colon = value.rfind(':');
    const std::string port = colon == std::string::npos ? std::string() : value.substr(colon + 1);
    const bool digits =
        !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (colon == 0 || !digits || std::stol(port) < 1 || std::stol(port) > 65535) {
        throw std::invalid_argument("--server needs HOST:PORT, like quil.example.org:7443, not '" + value +
                                    "'");
    }
    return value;
}

bool IsFlag(const std::string& option) {
    return std::find(kFlags.begin(), kFlags.end(), option) != kFlags.end();
}

// A task identifier as the agent's tasks give them: a UUID, in either case.
std::string TaskIdentifier(const std::string& text) {
    if (!std::regex_match(text, std::regex("[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}"))) {
        throw std::invalid_argument("--task needs a task identifier (a UUID), not '" + text + "'");
    }
    return text;
}

CAgentOptions::Format FormatNamed(const std::string& text) {
    static const std::map<std::string, CAgentOptions::Format> formats = {
        {"table", CAgentOptions::Format::Table},
        {"json", CAgentOptions::Format::Json},
        {"summary", CAgentOptions::Format::Summary}};
    const auto format = formats.find(text);
    if (format == formats.end()) {
        throw std::invalid_argument("--format needs table, json or summary, not '" + text + "'");
    }
    return format->second;
}

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

// The largest value each numeric setting takes. Each bound is far above any sensible use and far
// below what would overflow where the value is used: days become a time span in microseconds,
// seconds and milliseconds a steady-clock deadline in nanoseconds.
const std::map<std::string, int64_t> kMaxima = {
    {"--keep-rows", 1000000000LL},   // rows in the database
    {"--keep-days", 36500},          // a century
    {"--log-max-bytes", 1LL << 40},  // 1 TiB
    {"--max-queued", 10000000},      // each queued task holds its line in memory
    {"--grace-ms", 3600000},         // an hour
    {"--timeout", 7LL * 24 * 3600},  // a week
};

int64_t LimitNumber(const std::string& name, const std::string& text) {
    const int64_t maximum = kMaxima.at(name);
    if (!std::regex_match(text, std::regex("[0-9]{1," + std::to_string(kMaxLimitDigits) + "}")) ||
        std::stoll(text) > maximum) {
        throw std::invalid_argument(name + " needs a whole number from 0 to " + std::to_string(maximum) +
                                    ", not '" + text + "'");
    }
    return std::stoll(text);
}

int64_t CountNumber(const std::string& text) {
    if (!std::regex_match(text, std::regex("[0-9]{1," + std::to_string(kMaxLimitDigits) + "}"))) {
        throw std::invalid_argument("--limit (-n) needs a number of messages, not '" + text + "'");
    }
    return std::stoll(text);
}

}  // namespace

CAgentOptions CAgentOptions::Parse(const std::vector<std::string>& arguments, Purpose purpose) {
    CAgentOptions options;
    if (arguments.empty()) {
        return options;
    }
    const auto command = kCommands.find(arguments[0]);
    if (command == kCommands.end()) {
        throw std::invalid_argument(
            "unknown command '" + arguments[0] + "'" +
            CSuggestion::DidYouMean(arguments[0], {"run", "send", "status", "logs", "help", "install-service",
                                                   "uninstall-service"}));
    }
    options.command = command->second;
    options.Fill(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (options.command == Command::Send && options.task.empty() && purpose == Purpose::Command) {
        throw std::invalid_argument("send needs a task, e.g. '{\"task\":\"block-password\"}'");
    }
    options.FillDefaults();
    return options;
}

// A flag takes no value this way either.
std::vector<std::string> CAgentOptions::SplitAssignments(const std::vector<std::string>& arguments) {
    std::vector<std::string> split;
    for (const std::string& argument : arguments) {
        const size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos &&
            !IsFlag(argument.substr(0, equals))) {
            split.push_back(argument.substr(0, equals));
            split.push_back(argument.substr(equals + 1));
        } else {
            split.push_back(argument);
        }
    }
    return split;
}

void CAgentOptions::Fill(const std::vector<std::string>& given) {
    const std::vector<std::string> arguments = SplitAssignments(given);
    for (size_t i = 0; i < arguments.size(); ++i) {
        const auto shortForm = kShortLogsOptions.find(arguments[i]);
        const std::string& argument = command == Command::Logs && shortForm != kShortLogsOptions.end()
                                          ? shortForm->second
                                          : arguments[i];
        if (argument.rfind("--", 0) != 0) {
            if (command == Command::Help && topic.empty() && IsTopic(argument)) {
                topic = argument;
                continue;
            }
            if (command != Command::Send || !task.empty()) {
                throw std::invalid_argument("unexpected argument '" + argument + "'");
            }
            task = argument;
        } else if (!Takes(command, argument)) {
            throw std::invalid_argument("unknown option '" + argument + "'");
        } else if (IsFlag(argument)) {
            Flag(argument);
        } else if (i + 1 == arguments.size()) {
            throw std::invalid_argument(argument + " needs a value");
        } else {
            Option(argument, arguments[++i]);
        }
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
        types.push_back(static_cast<uint32_t>(MessageTypeNumber(value)));
    } else if (name == "--since") {
        since = NormalizeTime(name, value);
    } else if (name == "--until") {
        until = NormalizeTime(name, value);
    } else if (name == "--task") {
        taskId = TaskIdentifier(value);
    } else if (name == "--limit") {
        limit = CountNumber(value);
    } else if (name == "--format") {
        format = FormatNamed(value);
    } else if (name == "--timeout") {
        waitSeconds = LimitNumber(name, value);
    } else if (name == "--max-queued") {
        maxQueuedTasks = LimitNumber(name, value);
    } else if (name == "--log-level") {
        logLevel = CAgentLogger::LevelName(CAgentLogger::ParseLevel(value));
    } else if (name == "--grace-ms") {
        graceMs = LimitNumber(name, value);
    } else if (name == "--object-root") {
        objectRoot = value;
    } else if (name == "--server") {
        server = ServerAddress(value);
    } else if (name == "--server-bundle") {
        serverBundle = value;
    } else if (name == "--product-account") {
        if (!Connectors::Common::Pixlink::CServerAccount().Parse(value)) {
            throw std::invalid_argument("--product-account needs a security identifier (S-1-5-18), not '" +
                                        value + "'");
        }
        productAccount = value;
    }
}

void CAgentOptions::Flag(const std::string& name) {
    if (name == "--json") {
        json = true;
        format = Format::Json;
    } else if (name == "--follow") {
        follow = true;
    } else if (name == "--wait") {
        wait = true;
    } else if (name == "--set-aside-unreadable") {
        setAsideUnreadable = true;
    } else if (name == "--service") {
        service = true;
    }
}

void CAgentOptions::FillDefaults() {
    const Poco::Path folder = Poco::Path(database).parent();
    if (logFile.empty()) {
        logFile = Poco::Path(folder, "agent.log").toString();
    }
    if (control.empty()) {
        control = DefaultControl(folder.toString());
    }
    if (module.empty()) {
        module = DefaultModulePath();
    }
}

std::string CAgentOptions::NormalizeSince(const std::string& text) {
    return NormalizeTime("--since", text);
}

// The words journalctl's users write for a bound: "now", "today", "yesterday" and "N unit(s) ago",
// as the ISO 8601 prefix they stand for (a day for the day words, the second otherwise). Empty for
// any other text.
namespace {

std::string RelativeTime(const std::string& text, const Poco::Timestamp& now) {
    static const std::regex ago("(\\d{1,9}) ?(second|minute|hour|day|week)s? ago");
    static const std::map<std::string, Poco::Timespan::TimeDiff> units = {{"second", Poco::Timespan::SECONDS},
                                                                          {"minute", Poco::Timespan::MINUTES},
                                                                          {"hour", Poco::Timespan::HOURS},
                                                                          {"day", Poco::Timespan::DAYS},
                                                                          {"week", 7 * Poco::Timespan::DAYS}};
    const char* const day = "%Y-%m-%d";
    const char* const second = "%Y-%m-%dT%H:%M:%S";
    std::smatch match;
    if (text == "now") {
        return Poco::DateTimeFormatter::format(now, second);
    }
    if (text == "today") {
        return Poco::DateTimeFormatter::format(now, day);
    }
    if (text == "yesterday") {
        return Poco::DateTimeFormatter::format(now - Poco::Timespan::DAYS, day);
    }
    if (std::regex_match(text, match, ago)) {
        return Poco::DateTimeFormatter::format(now - std::stoll(match[1]) * units.at(match[2]), second);
    }
    return std::string();
}

}  // namespace

std::string CAgentOptions::NormalizeTime(const std::string& option, const std::string& given) {
    const std::string relative = RelativeTime(given, Poco::Timestamp());
    // "2027-01-01 10:00" as journalctl takes it: a space instead of the T.
    std::string text = relative.empty() ? given : relative;
    if (text.size() > kDateLength && text[kDateLength] == ' ') {
        text[kDateLength] = 'T';
    }
    static const std::regex form(
        "((\\d{4})(-(\\d{2})(-(\\d{2})(T(\\d{2})(:(\\d{2})(:(\\d{2})(\\.\\d{1,3})?)?)?)?)?)?)Z?");
    std::smatch match;
    if (!std::regex_match(text, match, form)) {
        throw std::invalid_argument(option +
                                    " needs a UTC time or its start, like 2027-01-01T10:00:00Z, 2027-01, "
                                    "'2027-01-01 10:00', today, yesterday or '2 hours ago', not '" +
                                    given + "'");
    }
    // A bound that names no moment would compare as text all the same, and select nothing or the
    // wrong rows.
    const auto part = [&match](size_t group) {
        return match[group].matched ? std::stoi(match[group].str()) : CUtcTime::kAbsent;
    };
    CUtcTime::Parts parts;
    parts.year = part(2);
    parts.month = part(4);
    parts.day = part(6);
    parts.hour = part(8);
    parts.minute = part(10);
    parts.second = part(12);
    const std::string fault = CUtcTime::Fault(parts);
    if (!fault.empty()) {
        throw std::invalid_argument(option + " is no time of the calendar: '" + given + "' (" + fault + ")");
    }
    // Stored times end in 'Z'; a bound without it compares as the prefix it is.
    return match[1];
}

std::string CAgentOptions::Usage() {
    return "usage:\n"
           "  quil-agent run [--db FILE] [--module PATH] [--log FILE] [--control SOCKET] [--max-queued N]\n"
           "                 [--keep-rows N] [--keep-days N] [--log-max-bytes N]\n"
           "                 [--log-level LEVEL] [--grace-ms N] [--object-root FOLDER]\n"
           "                 [--set-aside-unreadable] [--server HOST:PORT --server-bundle FILE]\n"
           "                 [--product-account SID]\n"
           "      runs the connector module; agent tasks are read as JSON lines on standard input\n"
           "      and from the control socket; stops on SIGINT or SIGTERM; the database keeps the\n"
           "      newest N messages (100000) of the last N days (30), the log file rotates to\n"
           "      agent.log.1 past N bytes (10485760), and tasks the module has not finished are\n"
           "      refused past N (" +
           std::to_string(kDefaultMaxQueuedTasks) +
           "); 0 means no limit; entries below --log-level (INFO) are\n"
           "      not logged, TRACE adds the product's raw documents; the module has --grace-ms (5000)\n"
           "      to stop before it is forced; --set-aside-unreadable drops, once, the stored payloads\n"
           "      that the database's key can no longer open (a lost or replaced agent.db.key) and starts;\n"
           "      with --server it sends what it stores to quil-server and takes tasks from it,\n"
           "      authenticated by the owner-only --server-bundle; the product's ports are used only\n"
           "      when --product-account (S-1-5-18, LocalSystem) serves them\n"
           "  quil-agent send [--db FILE] [--control SOCKET] '<task JSON>' | - | @FILE\n"
           "      hands one task to a running agent; '-' reads it from standard input, @FILE from a file\n"
           "  quil-agent send --wait [--timeout SECONDS] ...\n"
           "      then waits (60 s) for the task's result event: exit 0 done (30), 1 failed (40) or none\n"
           "  quil-agent status [--db FILE] [--control SOCKET] [--json]\n"
           "      asks a running agent whether its module reaches the product; exit 0 connected,\n"
           "      1 not reachable, 2 connecting, 3 not installed, 4 no agent answers\n"
           "  quil-agent logs [--db FILE] [--type N]... [--since TIME] [--until TIME] [--task UUID]\n"
           "                  [-n|--limit N] [-f|--follow] [--format table|json|summary] [--json]\n"
           "      prints the stored messages oldest first, as a table, JSON lines or one line each;\n"
           "      TIME is any start of 2027-01-01T10:00:00.000 (UTC; --until includes all it names; a\n"
           "      space may stand for the T), now, today, yesterday or 'N minutes|hours|days ago',\n"
           "      --type repeats, -n keeps the newest N matching messages, --follow then waits for more\n"
           "  quil-agent install-service [--db FILE] [--control PIPE] (Windows)\n"
           "      registers 'quil-agent run --service' with the service manager, started\n"
           "      automatically as LocalSystem; the database defaults to C:\\ProgramData\\quil\\agent.db\n"
           "      and a configuration file in use is passed on; the service stops with --grace-ms\n"
           "  quil-agent uninstall-service (Windows)\n"
           "      stops the service and removes it; its database stays\n"
           "  quil-agent --version | --help | help <command> | <command> --help\n"
           "options take their value as --name VALUE or --name=VALUE; every command also takes\n"
           "--config FILE (default /etc/quil/agent.conf when it exists) and --print-config, which\n"
           "shows each setting's value and source and exits; an option overrides a variable\n"
           "(QUIL_AGENT_DB, ...), which overrides the file\n"
           "defaults: --db var/agent.db; the log file and control socket sit next to the database\n"
           "(agent.log, agent.sock); the module is ../lib/quil/libquil_connector.so from the binary on\n"
           "Linux; on Windows it is quil_connector.dll beside the binary, the control channel is the\n"
           "named pipe \\\\.\\pipe\\quil-agent (SYSTEM and Administrators only), the configuration file\n"
           "C:\\ProgramData\\quil\\agent.conf, and 'run' in a console also stops when its input ends\n";
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
