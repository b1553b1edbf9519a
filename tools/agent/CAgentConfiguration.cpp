#include "tools/agent/CAgentConfiguration.h"

#include <Poco/File.h>
#include <Poco/String.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iomanip>
#include <sstream>

#include "platform/CTrustedPath.h"
#include "tools/ExitCodes.h"
#include "tools/agent/CConfigurationFile.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

typedef CAgentConfiguration::Source Source;

const char* const kObjectRootKey = "object-root";
const char* const kRunCommand = "run";
// --print-config's columns: the longest key, the longest source (the file's name aside).
const int kKeyColumn = 16;
const int kSourceColumn = 38;

// The value each setting ended with, as --print-config shows it.
const std::map<std::string, std::function<std::string(const CAgentOptions&)>> kEffective = {
    {"object-root", [](const CAgentOptions& o) { return o.objectRoot; }},
    {"database", [](const CAgentOptions& o) { return o.database; }},
    {"module", [](const CAgentOptions& o) { return o.module; }},
    {"log-file", [](const CAgentOptions& o) { return o.logFile; }},
    {"log-level", [](const CAgentOptions& o) { return o.logLevel; }},
    {"log-max-bytes", [](const CAgentOptions& o) { return std::to_string(o.logMaxBytes); }},
    {"keep-rows", [](const CAgentOptions& o) { return std::to_string(o.keepRows); }},
    {"keep-days", [](const CAgentOptions& o) { return std::to_string(o.keepDays); }},
    {"max-queued", [](const CAgentOptions& o) { return std::to_string(o.maxQueuedTasks); }},
    {"grace-ms", [](const CAgentOptions& o) { return std::to_string(o.graceMs); }},
    {"control", [](const CAgentOptions& o) { return o.control; }},
    {"server", [](const CAgentOptions& o) { return o.server; }},
    {"server-bundle", [](const CAgentOptions& o) { return o.serverBundle; }},
    {"product-account", [](const CAgentOptions& o) { return o.productAccount; }},
};

const char* const kServerKey = "server";
const std::string kNoServer = "(none: no server link)";

const CAgentConfiguration::Setting* FindByOption(const std::vector<CAgentConfiguration::Setting>& settings,
                                                 const std::string& option) {
    for (const CAgentConfiguration::Setting& setting : settings) {
        if (option == setting.option) {
            return &setting;
        }
    }
    return nullptr;
}

// Values are taken literally, backslashes and all (log-file = C:\quil\agent.log): the file format
// reads a backslash as an escape (and one at a line end as a continuation), so each one is doubled before the
// text is parsed.
std::string LiteralBackslashes(const std::string& text) {
    std::string literal;
    literal.reserve(text.size());
    for (char c : text) {
        literal += c;
        if (c == '\\') {
            literal += c;
        }
    }
    return literal;
}

bool IsOption(const std::string& argument) {
    return argument.rfind("-", 0) == 0;
}

// Every command takes the settings shared by all of them; a help word or a bare option takes none,
// so that asking for help never fails on what a configuration holds.
bool TakesSharedSettings(const std::string& command) {
    return !command.empty() && !IsOption(command) && command != "help";
}

// Poco reads any line as a key and lets a later line of the same key win; a configuration names
// each setting once as "key = value", and a fault is shown at its line.
void CheckLines(const std::string& fileName, const std::string& text,
                const std::vector<CAgentConfiguration::Setting>& settings) {
    std::istringstream lines(text);
    std::map<std::string, int> seen;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::string where = fileName + ": line " + std::to_string(number) + ": ";
        const std::string trimmed = Poco::trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == '!') {
            continue;
        }
        const size_t equals = trimmed.find('=');
        const std::string key = Poco::trim(trimmed.substr(0, equals));
        if (equals == std::string::npos || key.empty()) {
            throw CAgentConfiguration::CError(ExitCode::kConfig,
                                              where + "expected 'key = value', not '" + trimmed + "'");
        }
        if (std::none_of(settings.begin(), settings.end(),
                         [&key](const CAgentConfiguration::Setting& s) { return key == s.key; })) {
            throw CAgentConfiguration::CError(ExitCode::kConfig, where + "unknown key '" + key + "'");
        }
        const auto first = seen.emplace(key, number);
        if (!first.second) {
            throw CAgentConfiguration::CError(ExitCode::kConfig,
                                              where + "'" + key + "' is given again (first on line " +
                                                  std::to_string(first.first->second) + ")");
        }
    }
}

}  // namespace

const std::size_t CAgentConfiguration::kMaxFileBytes;

const std::vector<CAgentConfiguration::Setting>& CAgentConfiguration::Settings() {
    static const std::vector<Setting> settings = {
        {"object-root", "--object-root", "QUIL_OBJECT_ROOT", false},
        {"database", "--db", "QUIL_AGENT_DB", true},
        {"module", "--module", "QUIL_AGENT_MODULE", false},
        {"log-file", "--log", "QUIL_AGENT_LOG_FILE", false},
        {"log-level", "--log-level", "QUIL_AGENT_LOG_LEVEL", false},
        {"log-max-bytes", "--log-max-bytes", "QUIL_AGENT_LOG_MAX_BYTES", false},
        {"keep-rows", "--keep-rows", "QUIL_AGENT_KEEP_ROWS", false},
        {"keep-days", "--keep-days", "QUIL_AGENT_KEEP_DAYS", false},
        {"max-queued", "--max-queued", "QUIL_AGENT_MAX_QUEUED", false},
        {"grace-ms", "--grace-ms", "QUIL_AGENT_GRACE_MS", false},
        {"control", "--control", "QUIL_AGENT_CONTROL", true},
        {"server", "--server", "QUIL_AGENT_SERVER", false},
        {"server-bundle", "--server-bundle", "QUIL_AGENT_SERVER_BUNDLE", false},
        {"product-account", "--product-account", "QUIL_AGENT_PRODUCT_ACCOUNT", false},
    };
    return settings;
}

// A value is checked as the agent's command line would check its option.
const CAgentConfiguration::Schema& CAgentConfiguration::AgentSchema() {
    static const Schema schema = {Settings(), kRunCommand,
                                  [](const Setting& setting, const std::string& value) {
                                      CAgentOptions::Parse({kRunCommand, setting.option, value});
                                  }};
    return schema;
}

CAgentConfiguration::Environment CAgentConfiguration::ReadEnvironment() {
    return ReadEnvironment(AgentSchema());
}

// An empty variable counts as unset, as QUIL_OBJECT_ROOT always has.
CAgentConfiguration::Environment CAgentConfiguration::ReadEnvironment(const Schema& schema) {
    Environment environment;
    for (const Setting& setting : schema.settings) {
        const char* value = std::getenv(setting.variable);
        if (value != nullptr && *value != '\0') {
            environment[setting.variable] = value;
        }
    }
    return environment;
}

CAgentConfiguration::CAgentConfiguration(const std::vector<std::string>& arguments,
                                         const Environment& environment, const std::string& defaultFile)
    : CAgentConfiguration(arguments, environment, defaultFile, AgentSchema()) {}

CAgentConfiguration::CAgentConfiguration(const std::vector<std::string>& arguments,
                                         const Environment& environment, const std::string& defaultFile,
                                         const Schema& schema)
    : m_schema(schema) {
    TakeArguments(CAgentOptions::SplitAssignments(arguments));
    if (!m_configOption.empty()) {
        ReadFile(m_configOption);
    } else if (!defaultFile.empty() && Poco::File(defaultFile).exists()) {
        ReadFile(defaultFile);
    }
    Resolve(environment);
}

// --print-config alone shows what `run` would use.
void CAgentConfiguration::TakeArguments(const std::vector<std::string>& arguments) {
    size_t first = 0;
    if (!arguments.empty() && !IsOption(arguments[0])) {
        m_command = arguments[0];
        first = 1;
    }
    for (size_t i = first; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const Setting* setting = FindByOption(m_schema.settings, argument);
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--print-config") {
            m_print = true;
        } else if (argument == "--config") {
            if (!hasValue || arguments[i + 1].empty()) {
                throw std::invalid_argument("--config needs a file");
            }
            m_configOption = arguments[++i];
        } else if (setting != nullptr && hasValue && (m_command.empty() || Applies(*setting))) {
            m_given[argument] = arguments[++i];
        } else {
            // Left for CAgentOptions, which names whatever it does not take.
            m_rest.push_back(argument);
        }
    }
    if (m_command.empty() && m_print) {
        m_command = m_schema.fullCommand;
    }
}

void CAgentConfiguration::ReadFile(const std::string& fileName) {
    if (!Poco::File(fileName).exists()) {
        throw CError(ExitCode::kNoInput, "configuration file " + fileName + " does not exist");
    }
    std::string text;
    try {
        text = Platform::CTrustedPath::ReadTrustedFile(fileName, kMaxFileBytes);
    } catch (const std::exception& e) {
        throw CError(ExitCode::kNoPermission, "cannot use configuration file " + fileName + ": " + e.what());
    }
    CheckLines(fileName, text, m_schema.settings);
    for (const auto& entry : CConfigurationFile::Parse(LiteralBackslashes(text))) {
        bool known = false;
        for (const Setting& setting : m_schema.settings) {
            known = known || entry.first == setting.key;
        }
        if (!known) {
            throw CError(ExitCode::kConfig, fileName + ": unknown key '" + entry.first + "'");
        }
        m_file[entry.first] = entry.second;
    }
    m_fileName = fileName;
}

// File, then environment, then option: the last one that has a value wins.
void CAgentConfiguration::Resolve(const Environment& environment) {
    for (const Setting& setting : m_schema.settings) {
        m_sources[setting.key] = Source::Default;
        if (!Applies(setting)) {
            continue;
        }
        const auto inFile = m_file.find(setting.key);
        if (inFile != m_file.end()) {
            Check(setting, inFile->second, m_fileName + ": " + setting.key);
            m_values[setting.key] = inFile->second;
            m_sources[setting.key] = Source::File;
        }
        const auto variable = environment.find(setting.variable);
        if (variable != environment.end()) {
            Check(setting, variable->second, setting.variable);
            m_values[setting.key] = variable->second;
            m_sources[setting.key] = Source::Environment;
        }
        const auto given = m_given.find(setting.option);
        if (given != m_given.end()) {
            m_values[setting.key] = given->second;
            m_sources[setting.key] = Source::Option;
        }
    }
}

// A value from the file or the environment is checked as its option would be, but its fault is the
// configuration's, not the command line's.
void CAgentConfiguration::Check(const Setting& setting, const std::string& value,
                                const std::string& origin) const {
    try {
        m_schema.check(setting, value);
    } catch (const std::invalid_argument& e) {
        throw CError(ExitCode::kConfig, origin + ": " + e.what());
    }
}

// Help, or no command at all, takes no setting: the usage is shown whatever the file says.
bool CAgentConfiguration::Applies(const Setting& setting) const {
    return m_command == m_schema.fullCommand || (setting.everyCommand && TakesSharedSettings(m_command));
}

std::vector<std::string> CAgentConfiguration::Arguments() const {
    std::vector<std::string> arguments;
    if (!m_command.empty()) {
        arguments.push_back(m_command);
    }
    for (const Setting& setting : m_schema.settings) {
        const auto value = m_values.find(setting.key);
        if (value != m_values.end() && Applies(setting)) {
            arguments.push_back(setting.option);
            arguments.push_back(value->second);
        }
    }
    // Options given without a command go on as they were, for CAgentOptions to refuse.
    if (m_command.empty()) {
        for (const auto& given : m_given) {
            arguments.push_back(given.first);
            arguments.push_back(given.second);
        }
    }
    // Last, so that an option left without its value is reported as such.
    arguments.insert(arguments.end(), m_rest.begin(), m_rest.end());
    return arguments;
}

CAgentConfiguration::Source CAgentConfiguration::SourceOf(const std::string& key) const {
    const auto source = m_sources.find(key);
    return source == m_sources.end() ? Source::Default : source->second;
}

std::string CAgentConfiguration::ObjectRoot() const {
    const auto value = m_values.find(kObjectRootKey);
    return value == m_values.end() ? std::string() : value->second;
}

void CAgentConfiguration::Print(std::ostream& out, const CAgentOptions& effective) const {
    Print(out, [this, &effective](const std::string& key) {
        const std::string value = kEffective.at(key)(effective);
        if (!value.empty() || SourceOf(key) != Source::Default) {
            return value;
        }
        return key == kObjectRootKey ? ModuleDefaultRoot() : key == kServerKey ? kNoServer : value;
    });
}

void CAgentConfiguration::Print(std::ostream& out, const Effective& effective) const {
    out << "configuration file: " << (m_fileName.empty() ? "none" : m_fileName) << "\n";
    out << std::left << std::setw(kKeyColumn) << "setting" << std::setw(kSourceColumn) << "source"
        << "value\n";
    for (const Setting& setting : m_schema.settings) {
        if (!Applies(setting)) {
            continue;
        }
        std::string source = "default";
        switch (SourceOf(setting.key)) {
            case Source::File:
                source = "file " + m_fileName;
                break;
            case Source::Option:
                source = std::string("option ") + setting.option;
                break;
            case Source::Environment:
                source = std::string("environment ") + setting.variable;
                break;
            case Source::Default:
                break;
        }
        out << std::left << std::setw(kKeyColumn) << setting.key << std::setw(kSourceColumn) << source
            << effective(setting.key) << "\n";
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
