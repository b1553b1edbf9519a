// quil-agent: a host for the QUIL connector module. See tools/agent/README.md.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "QuilVersion.h"
#include "tools/ExitCodes.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/CAgentConfiguration.h"
#include "tools/agent/CAgentOptions.h"
#include "tools/agent/host/CAgentApplication.h"
#include "tools/agent/host/CAgentService.h"

#include <Poco/Path.h>

using namespace Zun::Tools::Agent;
namespace ExitCode = Zun::Tools::ExitCode;

namespace {

const char* const kCommandLine = "  quil-agent ";
// A command's description lines are indented deeper than the command lines.
const char* const kDescriptionIndent = "     ";

bool IsHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

// The part of the usage about one command; empty for a command the usage does not know.
std::string CommandUsage(const std::string& command) {
    std::istringstream lines(CAgentOptions::Usage());
    std::string usage;
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kCommandLine, 0) == 0) {
            inside = line.rfind(kCommandLine + command + " ", 0) == 0;
        } else if (line.rfind(kDescriptionIndent, 0) != 0) {
            inside = false;
        }
        if (inside) {
            usage += line + "\n";
        }
    }
    return usage;
}

// --version, --help and <command> --help, before anything is checked; -1 when it is none of them.
int Informational(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "quil-agent " << QUIL_VERSION << "\n";
        return ExitCode::kOk;
    }
    // <command> ... --help, whatever else is given (--config FILE, say).
    if (arguments.size() >= 2 && std::any_of(arguments.begin() + 1, arguments.end(), IsHelp) &&
        !CommandUsage(arguments[0]).empty()) {
        std::cout << "usage:\n" << CommandUsage(arguments[0]);
        return ExitCode::kOk;
    }
    return -1;
}

// After a usage error: the usage of the command given, not all of them.
std::string UsageHint(const std::vector<std::string>& arguments) {
    const std::string usage = arguments.empty() ? std::string() : CommandUsage(arguments[0]);
    return usage.empty() ? "run 'quil-agent --help' for the commands\n" : "usage:\n" + usage;
}

// What install-service records: absolute paths, since a service starts in the system's folder, and
// the database a service keeps unless one is given.
CAgentService::Installation ServiceInstallation(const CAgentConfiguration& configuration,
                                                const CAgentOptions& options) {
    typedef CAgentConfiguration::Source Source;
    CAgentService::Installation installation;
    installation.database = configuration.SourceOf("database") == Source::Default
                                ? CAgentService::DefaultDatabase()
                                : Poco::Path(options.database).absolute().toString();
    if (!configuration.FileName().empty()) {
        installation.configFile = Poco::Path(configuration.FileName()).absolute().toString();
    }
    if (configuration.SourceOf("control") != Source::Default) {
        installation.control = options.control;
    }
    return installation;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int informational = Informational(arguments);
    if (informational >= 0) {
        return informational;
    }
    CAgentOptions options;
    CAgentService::Installation installation;
    try {
        const CAgentConfiguration configuration(arguments, CAgentConfiguration::ReadEnvironment());
        options = CAgentOptions::Parse(configuration.Arguments(), configuration.PrintRequested()
                                                                      ? CAgentOptions::Purpose::Settings
                                                                      : CAgentOptions::Purpose::Command);
        if (configuration.PrintRequested()) {
            configuration.Print(std::cout, options);
            return ExitCode::kOk;
        }
        if (options.command == CAgentOptions::Command::InstallService) {
            installation = ServiceInstallation(configuration, options);
        }
        if (options.command == CAgentOptions::Command::Run && !options.objectRoot.empty()) {
            CAgentConfiguration::ExportObjectRoot(options.objectRoot);
        }
    } catch (const CAgentConfiguration::CError& e) {
        std::cerr << "quil-agent: " << e.what() << "\n";
        return e.Code();
    } catch (const std::invalid_argument& e) {
        std::cerr << "quil-agent: " << e.what() << "\n" << UsageHint(arguments);
        return ExitCode::kUsage;
    } catch (const std::runtime_error& e) {
        std::cerr << "quil-agent: " << e.what() << "\n";
        return ExitCode::kSoftware;
    }
    switch (options.command) {
        case CAgentOptions::Command::Run:
            return options.service ? CAgentService::Run(options, std::cerr)
                                   : CAgentApplication(options).Run();
        case CAgentOptions::Command::InstallService:
            return CAgentService::Install(installation, std::cout, std::cerr);
        case CAgentOptions::Command::UninstallService:
            return CAgentService::Uninstall(std::cout, std::cerr);
        case CAgentOptions::Command::Send:
            return CAgentCommands::Send(options, std::cout, std::cerr);
        case CAgentOptions::Command::Status:
            return CAgentCommands::Status(options, std::cout, std::cerr);
        case CAgentOptions::Command::Logs:
            return CAgentCommands::Logs(options, std::cout, std::cerr);
        case CAgentOptions::Command::Help:
            break;
    }
    if (!options.topic.empty()) {
        std::cout << "usage:\n" << CommandUsage(options.topic);
        return ExitCode::kOk;
    }
    std::cout << CAgentOptions::Usage();
    return argc > 1 ? ExitCode::kOk : ExitCode::kUsage;
}
