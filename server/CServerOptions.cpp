#include "server/CServerOptions.h"

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace Zun {
namespace Server {

namespace {

typedef CServerOptions::Command Command;

const std::map<std::string, Command> kCommands = {
    {"run", Command::Run},      {"enrol", Command::Enrol}, {"revoke", Command::Revoke},
    {"hosts", Command::Hosts},  {"host", Command::Host},   {"reveal", Command::Reveal},
    {"audit", Command::Audit},  {"task", Command::Task},   {"tasks", Command::Tasks},
    {"user", Command::UserAdd},
};
const std::set<std::string> kLevels = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
const char* const kCommandLine = "  quil-server ";
const char* const kDescriptionIndent = "     ";
const int kMaxValidDays = 3650;
const int64_t kMaxRetention = 1000000000;

std::invalid_argument Bad(const std::string& text) {
    return std::invalid_argument(text);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return text;
}

// A count of 0 (no bound) or more.
int64_t Count(const std::string& option, const std::string& value) {
    if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(value) > kMaxRetention) {
        throw Bad(option + " takes a count from 0 (keep all) to " + std::to_string(kMaxRetention) +
                  ", not '" + value + "'");
    }
    return std::stoll(value);
}

bool TakesValue(const std::string& option) {
    static const std::set<std::string> valued = {"--state",
                                                 "--db",
                                                 "--listen",
                                                 "--admin-socket",
                                                 "--log",
                                                 "--log-level",
                                                 "--out",
                                                 "--device",
                                                 "--reason",
                                                 "--name",
                                                 "--days",
                                                 "--retention-rows",
                                                 "--retention-days",
                                                 "--role",
                                                 "--console-listen",
                                                 "--console-certificate",
                                                 "--console-key"};
    return valued.count(option) != 0;
}

}  // namespace

const char* const CServerOptions::kDefaultStateFolder = "/var/lib/quil-server";

CServerOptions CServerOptions::Parse(const std::vector<std::string>& arguments) {
    CServerOptions options;
    if (arguments.empty()) {
        return options;
    }
    size_t first = 1;
    if (arguments[0] == "ca") {
        options.command = Command::CaInit;
    } else {
        const auto command = kCommands.find(arguments[0]);
        if (command == kCommands.end()) {
            throw Bad("unknown command '" + arguments[0] + "'");
        }
        options.command = command->second;
    }
    options.Take(arguments, first);
    options.Check();
    options.FillDefaults();
    return options;
}

void CServerOptions::Take(const std::vector<std::string>& arguments, size_t first) {
    for (size_t i = first; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--json") {
            json = true;
        } else if (argument == "--all") {
            all = true;
        } else if (TakesValue(argument)) {
            if (i + 1 >= arguments.size()) {
                throw Bad(argument + " needs a value");
            }
            Option(argument, arguments[++i]);
        } else if (argument.rfind("--", 0) == 0) {
            throw Bad("unknown option '" + argument + "'");
        } else {
            Positional(argument);
        }
    }
}

void CServerOptions::Option(const std::string& option, const std::string& value) {
    if (value.empty()) {
        throw Bad(option + " needs a value");
    }
    if (option == "--state") {
        stateFolder = value;
    } else if (option == "--db") {
        database = value;
    } else if (option == "--listen") {
        if (value.find(':') == std::string::npos) {
            throw Bad("--listen takes host:port, not '" + value + "'");
        }
        listen = value;
    } else if (option == "--console-listen") {
        if (value.find(':') == std::string::npos) {
            throw Bad("--console-listen takes host:port, not '" + value + "'");
        }
        consoleListen = value;
    } else if (option == "--console-certificate") {
        consoleCertificate = value;
    } else if (option == "--console-key") {
        consoleKey = value;
    } else if (option == "--role") {
        role = value;
    } else if (option == "--admin-socket") {
        adminSocket = value;
    } else if (option == "--log") {
        logFile = value;
    } else if (option == "--log-level") {
        if (kLevels.count(Upper(value)) == 0) {
            throw Bad("--log-level takes TRACE, DEBUG, INFO, WARN or ERROR, not '" + value + "'");
        }
        logLevel = Upper(value);
    } else if (option == "--out") {
        out = value;
    } else if (option == "--device") {
        device = value;
    } else if (option == "--reason") {
        reason = value;
    } else if (option == "--name") {
        serverNames.push_back(value);
    } else if (option == "--days") {
        const int days = std::atoi(value.c_str());
        if (value.find_first_not_of("0123456789") != std::string::npos || days < 1 || days > kMaxValidDays) {
            throw Bad("--days takes 1 to " + std::to_string(kMaxValidDays) + ", not '" + value + "'");
        }
        validDays = days;
    } else if (option == "--retention-rows" || option == "--retention-days") {
        (option == "--retention-rows" ? retentionRows : retentionDays) = Count(option, value);
    }
}

// NAME of host, reveal, enrol and revoke; NAME and then the line of task.
void CServerOptions::Positional(const std::string& value) {
    if (command == Command::CaInit && !m_caInit && value == "init") {
        m_caInit = true;
        return;
    }
    if (command == Command::UserAdd && !m_userAdd && value == "add") {
        m_userAdd = true;
        return;
    }
    const bool named = command == Command::Host || command == Command::Reveal || command == Command::Enrol ||
                       command == Command::Revoke || (command == Command::Task && !all) ||
                       (command == Command::UserAdd && m_userAdd);
    if (named && name.empty()) {
        name = value;
    } else if (command == Command::Task && line.empty()) {
        line = value;
    } else {
        throw Bad("unexpected argument '" + value + "'");
    }
}

void CServerOptions::Check() const {
    if (command == Command::CaInit && !m_caInit) {
        throw Bad("'ca' takes 'init'");
    }
    if (command == Command::UserAdd && (!m_userAdd || name.empty() || role.empty())) {
        throw Bad("'user' takes 'add NAME --role \"help desk\"|administrator'");
    }
    const bool named = command == Command::Host || command == Command::Reveal || command == Command::Enrol ||
                       command == Command::Revoke;
    if (named && name.empty()) {
        throw Bad("the command needs the computer's NAME");
    }
    if (command == Command::Reveal && reason.empty()) {
        throw Bad("reveal needs --reason TEXT: every reveal is audited with its reason");
    }
    if (command == Command::Enrol && out.empty()) {
        throw Bad("enrol needs --out FILE for the computer's bundle");
    }
    if (command == Command::Task && (line.empty() || (name.empty() && !all) || (!name.empty() && all))) {
        throw Bad("task needs NAME or --all, and the task line");
    }
}

void CServerOptions::FillDefaults() {
    const std::string folder = stateFolder + "/";
    database = database.empty() ? folder + "server.db" : database;
    adminSocket = adminSocket.empty() ? folder + "admin.sock" : adminSocket;
    logFile = logFile.empty() ? folder + "server.log" : logFile;
}

bool CServerOptions::IsAdminCommand() const {
    return command == Command::Hosts || command == Command::Host || command == Command::Reveal ||
           command == Command::Audit || command == Command::Task || command == Command::Tasks;
}

std::string CServerOptions::Usage() {
    return "usage:\n"
           "  quil-server run [--state FOLDER] [--db FILE|postgresql:...] [--listen HOST:PORT]\n"
           "                  [--admin-socket SOCKET] [--log FILE] [--log-level LEVEL]\n"
           "                  [--retention-rows N] [--retention-days N]\n"
           "                  [--console-listen HOST:PORT] [--console-certificate FILE --console-key FILE]\n"
           "      serves the agents' link, the admin socket and the web console until SIGINT or SIGTERM\n"
           "  quil-server ca init [--state FOLDER] [--name DNS-OR-ADDRESS]...\n"
           "      makes the server's CA and certificate in the state folder\n"
           "  quil-server enrol NAME --out FILE [--days N]\n"
           "      issues a certificate for the computer NAME into a new owner-only bundle\n"
           "  quil-server revoke NAME\n"
           "      revokes the computer's certificate; its agent is refused from its next connection\n"
           "  quil-server user add NAME --role \"help desk\"|administrator\n"
           "      adds a console account; its password is read from the terminal or standard input\n"
           "  quil-server hosts [--json]\n"
           "      the computers, their product and escrow state\n"
           "  quil-server host NAME\n"
           "      one computer: product, protection, storage, licences, maintenance, escrow, task results\n"
           "  quil-server reveal NAME [--device ID] --reason TEXT\n"
           "      prints the computer's recovery passwords, after the audit recorded who and why\n"
           "  quil-server audit\n"
           "      the audit's rows\n"
           "  quil-server task NAME|--all '<task line>'\n"
           "      queues an agent task (the agent's syntax) for one or every computer\n"
           "  quil-server tasks\n"
           "      each task, its state and the result events of its ids\n"
           "  quil-server --version | --help | <command> --help\n"
           "every command also takes --config FILE (default /etc/quil/server.conf when it exists) and\n"
           "--print-config, which shows each setting's value and source and exits; a variable\n"
           "(QUIL_SERVER_STATE, ...) overrides an option, which overrides the file\n"
           "defaults: --state /var/lib/quil-server, holding server.db, server.key, admin.sock and "
           "server.log\n";
}

std::string CServerOptions::CommandUsage(const std::string& command) {
    std::istringstream lines(Usage());
    std::string usage;
    bool inside = false;
    for (std::string text; std::getline(lines, text);) {
        if (text.rfind(kCommandLine, 0) == 0) {
            inside = text.rfind(kCommandLine + command + " ", 0) == 0;
        } else if (text.rfind(kDescriptionIndent, 0) != 0) {
            inside = false;
        }
        if (inside) {
            usage += text + "\n";
        }
    }
    return usage;
}

}  // namespace Server
}  // namespace Zun
