#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/agent/CAgentOptions.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Where quil-agent's settings come from. Each setting has a key in the configuration file, an
// option on the command line and a variable in the environment; the file gives a value, a variable
// overrides it and an option overrides both, as git, systemd and osquery have it: what is typed for
// one command is what the user means now. The file is --config FILE, else /etc/quil/agent.conf when it
// exists; it holds "key = value" lines and '#' comments.
//
// The resolved settings are handed to CAgentOptions as command-line options, so every value,
// wherever it comes from, goes through the same checks.
class CAgentConfiguration {
public:
    enum class Source { Default, File, Option, Environment };
    typedef std::map<std::string, std::string> Environment;

    struct Setting {
        const char* key;       // in the file
        const char* option;    // on the command line
        const char* variable;  // in the environment
        bool everyCommand;     // taken by send and logs as well as by run
    };

    // What a program's configuration is made of, so that quil-server takes its settings the same way:
    // the settings, the command that takes every one of them, and the check of one value (as its
    // option would be checked: std::invalid_argument naming what is wrong).
    struct Schema {
        std::vector<Setting> settings;
        std::string fullCommand;
        std::function<void(const Setting& setting, const std::string& value)> check;
    };
    // The value in effect of a setting, by its key, for --print-config.
    typedef std::function<std::string(const std::string& key)> Effective;

    // A configuration that cannot be used; code is the exit code that says why.
    class CError : public std::runtime_error {
    public:
        CError(int code, const std::string& text) : std::runtime_error(text), m_code(code) {}
        int Code() const { return m_code; }

    private:
        int m_code;
    };

    static const char* const kDefaultFile;
    static const std::size_t kMaxFileBytes = 64 * 1024;

    static const std::vector<Setting>& Settings();
    static const Schema& AgentSchema();
    // The settings' variables that are set and not empty.
    static Environment ReadEnvironment();
    static Environment ReadEnvironment(const Schema& schema);

    // Takes --config FILE and --print-config off the arguments and reads the file. Throws
    // std::invalid_argument for a bad command line and CError for a bad file or variable.
    CAgentConfiguration(const std::vector<std::string>& arguments, const Environment& environment,
                        const std::string& defaultFile = kDefaultFile);
    CAgentConfiguration(const std::vector<std::string>& arguments, const Environment& environment,
                        const std::string& defaultFile, const Schema& schema);

    // The command line for CAgentOptions::Parse: the command with its own arguments and each
    // setting the command takes, at the value that won.
    std::vector<std::string> Arguments() const;
    bool PrintRequested() const { return m_print; }
    // The configuration file read; empty when none was.
    const std::string& FileName() const { return m_fileName; }
    // What --print-config shows for the object root the module chooses itself.
    static std::string ModuleDefaultRoot();
    // One line per setting of the command: its effective value and where it came from.
    void Print(std::ostream& out, const CAgentOptions& effective) const;
    void Print(std::ostream& out, const Effective& effective) const;
    Source SourceOf(const std::string& key) const;
    // The object root the module should use, empty when left to the module's own default.
    std::string ObjectRoot() const;
    // Makes the object root the module's, which reads it from QUIL_OBJECT_ROOT when it loads.
    static void ExportObjectRoot(const std::string& root);

private:
    void TakeArguments(const std::vector<std::string>& arguments);
    void ReadFile(const std::string& fileName);
    void Resolve(const Environment& environment);
    void Check(const Setting& setting, const std::string& value, const std::string& origin) const;
    bool Applies(const Setting& setting) const;

    Schema m_schema;
    std::string m_command;
    std::vector<std::string> m_rest;              // the arguments that are no settings
    std::map<std::string, std::string> m_given;   // option -> value on the command line
    std::map<std::string, std::string> m_file;    // key -> value in the file
    std::map<std::string, std::string> m_values;  // key -> the value that won
    std::map<std::string, Source> m_sources;      // key -> where it came from
    std::string m_fileName;                       // empty when no file was read
    std::string m_configOption;                   // --config as given
    bool m_print = false;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
