// quil-agent: a host for the QUIL connector module. See tools/agent/README.md.
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/agent/CAgentApplication.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/CAgentOptions.h"

using namespace Zun::Tools::Agent;

int main(int argc, char* argv[]) {
    CAgentOptions options;
    try {
        options = CAgentOptions::Parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& e) {
        std::cerr << "quil-agent: " << e.what() << "\n" << CAgentOptions::Usage();
        return 64;
    }
    switch (options.command) {
        case CAgentOptions::Command::Run:
            return CAgentApplication(options).Run();
        case CAgentOptions::Command::Send:
            return CAgentCommands::Send(options, std::cout, std::cerr);
        case CAgentOptions::Command::Status:
            return CAgentCommands::Status(options, std::cout, std::cerr);
        case CAgentOptions::Command::Logs:
            return CAgentCommands::Logs(options, std::cout, std::cerr);
        case CAgentOptions::Command::Help:
            break;
    }
    std::cout << CAgentOptions::Usage();
    return argc > 1 ? 0 : 64;
}
