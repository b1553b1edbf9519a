#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zun {
namespace Server {

// The command line of quil-server: one command, its arguments and the settings, with the defaults
// filled in. Throws std::invalid_argument naming the offending argument.
class CServerOptions {
public:
    enum class Command { Help, Run, CaInit, Enrol, Revoke, Hosts, Host, Reveal, Audit, Task, Tasks, UserAdd };

    static const char* const kDefaultStateFolder;

    Command command = Command::Help;
    std::string stateFolder = kDefaultStateFolder;
    std::string database;  // default: server.db in the state folder
    std::string listen = "0.0.0.0:7443";
    std::string adminSocket;  // default: admin.sock in the state folder
    std::string logFile;      // default: server.log in the state folder
    std::string logLevel = "INFO";
    // History kept: each computer's newest rows, and days of rows, superseded items and answered
    // tasks; 0 keeps all.
    int64_t retentionRows = 20000;
    int64_t retentionDays = 365;
    std::string consoleListen;       // empty: no console
    std::string consoleCertificate;  // default: the CA's server certificate
    std::string consoleKey;          // default: the CA's server key

    std::string name;                      // host, reveal, task, enrol, revoke, user add
    std::string role;                      // user add
    std::string out;                       // enrol: the bundle to write
    std::string device;                    // reveal
    std::string reason;                    // reveal
    std::string line;                      // task
    bool all = false;                      // task --all
    bool json = false;                     // hosts --json
    std::vector<std::string> serverNames;  // ca init --name, repeated
    int validDays = 825;                   // enrol --days

    static CServerOptions Parse(const std::vector<std::string>& arguments);
    static std::string Usage();
    // The lines of the usage about one command; empty for an unknown command.
    static std::string CommandUsage(const std::string& command);
    // Whether the command talks to a running server through the admin socket.
    bool IsAdminCommand() const;

private:
    void Take(const std::vector<std::string>& arguments, size_t first);
    void Option(const std::string& name, const std::string& value);
    void Positional(const std::string& value);
    void Check() const;
    void FillDefaults();

    bool m_caInit = false;
    bool m_userAdd = false;
};

}  // namespace Server
}  // namespace Zun
