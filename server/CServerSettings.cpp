#include "server/CServerSettings.h"

#include <functional>
#include <map>

namespace Zun {
namespace Server {

using Tools::Agent::CAgentConfiguration;

namespace {

const char* const kRunCommand = "run";

const std::map<std::string, std::function<std::string(const CServerOptions&)>> kValues = {
    {"state-folder", [](const CServerOptions& o) { return o.stateFolder; }},
    {"database", [](const CServerOptions& o) { return o.database; }},
    {"listen", [](const CServerOptions& o) { return o.listen; }},
    {"admin-socket", [](const CServerOptions& o) { return o.adminSocket; }},
    {"log-file", [](const CServerOptions& o) { return o.logFile; }},
    {"log-level", [](const CServerOptions& o) { return o.logLevel; }},
    {"retention-rows", [](const CServerOptions& o) { return std::to_string(o.retentionRows); }},
    {"retention-days", [](const CServerOptions& o) { return std::to_string(o.retentionDays); }},
    {"console-listen", [](const CServerOptions& o) { return o.consoleListen; }},
    {"console-certificate", [](const CServerOptions& o) { return o.consoleCertificate; }},
    {"console-key", [](const CServerOptions& o) { return o.consoleKey; }},
};

}  // namespace

const char* const CServerSettings::kDefaultFile = "/etc/quil/server.conf";

// The state folder holds the CA, the key and the default database, so every command takes it, and
// the database too (user add writes accounts into it); the admin commands find the server through
// its socket.
const CAgentConfiguration::Schema& CServerSettings::Schema() {
    static const CAgentConfiguration::Schema schema = {
        {
            {"state-folder", "--state", "QUIL_SERVER_STATE", true},
            {"database", "--db", "QUIL_SERVER_DB", true},
            {"listen", "--listen", "QUIL_SERVER_LISTEN", false},
            {"admin-socket", "--admin-socket", "QUIL_SERVER_ADMIN_SOCKET", true},
            {"log-file", "--log", "QUIL_SERVER_LOG_FILE", false},
            {"log-level", "--log-level", "QUIL_SERVER_LOG_LEVEL", false},
            {"retention-rows", "--retention-rows", "QUIL_SERVER_RETENTION_ROWS", false},
            {"retention-days", "--retention-days", "QUIL_SERVER_RETENTION_DAYS", false},
            {"console-listen", "--console-listen", "QUIL_SERVER_CONSOLE_LISTEN", false},
            {"console-certificate", "--console-certificate", "QUIL_SERVER_CONSOLE_CERTIFICATE", false},
            {"console-key", "--console-key", "QUIL_SERVER_CONSOLE_KEY", false},
        },
        kRunCommand,
        [](const CAgentConfiguration::Setting& setting, const std::string& value) {
            CServerOptions::Parse({kRunCommand, setting.option, value});
        }};
    return schema;
}

CAgentConfiguration::Effective CServerSettings::Effective(const CServerOptions& options) {
    return [options](const std::string& key) { return kValues.at(key)(options); };
}

}  // namespace Server
}  // namespace Zun
