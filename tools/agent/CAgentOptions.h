#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Agent {

// The command line of quil-agent: one command and its options, with the defaults filled in.
class CAgentOptions {
public:
    enum class Command { Run, Send, Logs, Help, Status, InstallService, UninstallService };

    Command command = Command::Help;
    std::string database = "var/agent.db";
    std::string module;   // default: libquil_connector.so in ../lib/quil from the binary
    std::string logFile;  // default: agent.log next to the database
    std::string control;  // default: agent.sock next to the database; \\.\pipe\quil-agent on Windows
    std::string task;     // send: the task line
    std::string topic;    // help: the command whose usage is asked for; empty for all
    enum class Format { Table, Json, Summary };

    std::vector<uint32_t> types;  // logs: any of them; all types when empty
    std::string since;            // logs: normalized ISO 8601 prefix
    std::string until;            // logs: normalized ISO 8601 prefix, inclusive
    std::string taskId;           // logs: rows of this task only
    int64_t limit = -1;           // logs: only the newest N matching rows; all when negative
    bool follow = false;          // logs: keep printing rows as they are stored
    Format format = Format::Table;
    bool json = false;  // logs: --json, the same as --format json
    // send: wait for the task's result event, at most waitSeconds.
    bool wait = false;
    int64_t waitSeconds = kDefaultWaitSeconds;
    static const int64_t kDefaultWaitSeconds = 60;
    // run: tasks taken but not yet done with by the module; more are refused until some finish.
    int64_t maxQueuedTasks = kDefaultMaxQueuedTasks;

    static const int64_t kDefaultMaxQueuedTasks = 10000;
    // run: what the database and the log file keep; 0 means no limit.
    int64_t keepRows = 100000;
    int64_t keepDays = 30;
    int64_t logMaxBytes = 10 * 1024 * 1024;
    // run: TRACE, DEBUG, INFO, WARN or ERROR; entries below it are not logged.
    std::string logLevel = "INFO";
    // run: how long the module has to stop before it is forced.
    int64_t graceMs = kDefaultGraceMs;
    // run: the object root for the module (QUIL_OBJECT_ROOT); empty leaves the module's default.
    std::string objectRoot;
    // run: drop the stored payloads the key cannot open (a lost or replaced key file) and start; a
    // one-off, so a command-line flag only, never a setting.
    bool setAsideUnreadable = false;
    // run: under Windows' service manager, which starts the agent so (see install-service).
    bool service = false;
    // run: quil-server's link address (host:port) and this computer's bundle; no link when empty.
    std::string server;
    std::string serverBundle;
    // run: the account that must serve the product's ports, as a security identifier.
    std::string productAccount = "S-1-5-18";

    static const int64_t kDefaultGraceMs = 5000;

    // Throws std::invalid_argument naming the offending argument.
    // Settings alone are parsed for --print-config, which needs no task.
    enum class Purpose { Command, Settings };
    static CAgentOptions Parse(const std::vector<std::string>& arguments, Purpose purpose = Purpose::Command);
    static std::string Usage();
    static std::string DefaultModulePath();
    // The control channel when none is given: a socket in the database's folder, a named pipe on
    // Windows.
    static std::string DefaultControl(const std::string& databaseFolder);
    // Accepts 2027-01-01, 2027-01-01T10:00, 2027-01-01T10:00:00[.123][Z]; returns the prefix the
    // stored times compare against. Throws std::invalid_argument for anything else.
    static std::string NormalizeSince(const std::string& text);
    // Any prefix of such a time, down to the year ("2026", "2026-12", "2026-12-06T10"), with a space
    // for the T, or now, today, yesterday and "N seconds|minutes|hours|days|weeks ago"; the error
    // names the option.
    static std::string NormalizeTime(const std::string& option, const std::string& text);
    // "--name=value" as the two arguments "--name" "value", as GNU tools take it.
    static std::vector<std::string> SplitAssignments(const std::vector<std::string>& arguments);

private:
    void Fill(const std::vector<std::string>& arguments);
    void Option(const std::string& name, const std::string& value);
    void Flag(const std::string& name);
    void FillDefaults();
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
