// quil-server: the escrow and fleet server the agents connect to. See server/README.md.
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "QuilVersion.h"
#include "server/CServerApplication.h"
#include "server/CServerCommands.h"
#include "server/CServerOptions.h"
#include "server/CServerSettings.h"
#include "tools/ExitCodes.h"
#include "tools/agent/CAgentConfiguration.h"

using namespace Zun::Server;
using Zun::Tools::Agent::CAgentConfiguration;
namespace ExitCode = Zun::Tools::ExitCode;

namespace {

bool IsHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

// --version, --help and <command> --help, before anything is checked; -1 when it is none of them.
int Informational(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "quil-server " << QUIL_VERSION << "\n";
        return ExitCode::kOk;
    }
    if (arguments.size() == 1 && IsHelp(arguments[0])) {
        std::cout << CServerOptions::Usage();
        return ExitCode::kOk;
    }
    if (arguments.size() >= 2 && IsHelp(arguments.back()) &&
        !CServerOptions::CommandUsage(arguments[0]).empty()) {
        std::cout << "usage:\n" << CServerOptions::CommandUsage(arguments[0]);
        return ExitCode::kOk;
    }
    return -1;
}

int Dispatch(const CServerOptions& options) {
    CServerApplication application(options);
    switch (options.command) {
        case CServerOptions::Command::Run:
            return application.Run();
        case CServerOptions::Command::CaInit:
            return application.CaInit();
        case CServerOptions::Command::Enrol:
            return application.Enrol();
        case CServerOptions::Command::Revoke:
            return application.Revoke();
        case CServerOptions::Command::UserAdd:
            return application.UserAdd();
        case CServerOptions::Command::Help:
            std::cout << CServerOptions::Usage();
            return ExitCode::kUsage;
        default:
            return CServerCommands::Admin(options, std::cout, std::cerr);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int informational = Informational(arguments);
    if (informational >= 0) {
        return informational;
    }
    CServerOptions options;
    try {
        const CAgentConfiguration::Schema& schema = CServerSettings::Schema();
        const CAgentConfiguration configuration(arguments, CAgentConfiguration::ReadEnvironment(schema),
                                                CServerSettings::kDefaultFile, schema);
        options = CServerOptions::Parse(configuration.Arguments());
        if (configuration.PrintRequested()) {
            configuration.Print(std::cout, CServerSettings::Effective(options));
            return ExitCode::kOk;
        }
    } catch (const CAgentConfiguration::CError& e) {
        std::cerr << "quil-server: " << e.what() << "\n";
        return e.Code();
    } catch (const std::invalid_argument& e) {
        std::cerr << "quil-server: " << e.what() << "\n" << CServerOptions::Usage();
        return ExitCode::kUsage;
    }
    return Dispatch(options);
}
