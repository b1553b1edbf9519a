// quil-demo: runs quil-product and quil-agent with the connector module through one scenario that
// shows every capability, and prints what the agent stored.
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "QuilVersion.h"
#include "tools/ExitCodes.h"
#include "tools/agent/CAgentOptions.h"
#include "tools/demo/CDemo.h"
#include "tools/demo/CFleetDemo.h"

namespace {

using Zun::Tools::Demo::CChildProcess;
namespace ExitCode = Zun::Tools::ExitCode;

void OnSignal(int) {
    CChildProcess::RequestInterrupt();
}

// No SA_RESTART: a signal breaks the current wait at once, and the session's destructors then stop
// both programs and remove the folder.
void CatchSignals() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = &OnSignal;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

std::string OwnFolder() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string self = length > 0 ? std::string(path, static_cast<size_t>(length)) : "./quil-demo";
    return self.substr(0, self.rfind('/'));
}

int Usage(std::ostream& out, int code) {
    out << "usage: quil-demo [--fleet [--screenshots DIR]] [--keep] | --version | --help\n"
           "  Starts quil-product and quil-agent with the connector module in a fresh folder under /tmp,\n"
           "  runs a scenario of about 35 seconds and prints what the module published.\n"
           "  --fleet  quil-server and three computers linked to it instead: escrow confirmed by each\n"
           "           product, an audited reveal, a task to all, a product that stops answering\n"
           "  --screenshots DIR  with --fleet: the console's fleet and recovery pages, as a headless\n"
           "           Chromium shows them, saved as console-fleet.png and console-recovery.png in DIR\n"
           "  --keep   leave the folder (agent database and logs) for `quil-agent logs` afterwards\n";
    return code;
}

int RunFleet(const Zun::Tools::Demo::CSession::Options& options, const std::string& screenshots) {
    std::unique_ptr<Zun::Tools::Demo::CFleetDemo> demo;
    try {
        demo.reset(new Zun::Tools::Demo::CFleetDemo(options, screenshots));
        demo->Run();
        std::cout << "\n" << demo->Outcome() << "\n" << demo->Verdict() << "\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-demo: " << e.what() << "\n";
        if (demo) {
            std::cout << "\n" << demo->Outcome() << "\n" << demo->Verdict() << "\n";
        }
        return CChildProcess::Interrupted() ? ExitCode::kInterrupted : ExitCode::kFailure;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Zun::Tools::Demo::CSession::Options options;
    bool fleet = false;
    std::string screenshots;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--keep") {
            options.keep = true;
        } else if (argument == "--fleet") {
            fleet = true;
        } else if (argument == "--screenshots") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::cerr << "quil-demo: --screenshots takes a folder\n";
                return Usage(std::cerr, ExitCode::kUsage);
            }
            screenshots = argv[++i];
        } else if (argument == "--version") {
            std::cout << "quil-demo " << QUIL_VERSION << "\n";
            return ExitCode::kOk;
        } else if (argument == "--help" || argument == "-h") {
            return Usage(std::cout, ExitCode::kOk);
        } else {
            std::cerr << "quil-demo: unknown option '" << argument << "'\n";
            return Usage(std::cerr, ExitCode::kUsage);
        }
    }
    const std::string bin = OwnFolder();
    options.binaries = bin;
    // The agent's own default: the demo and the agent share their folder.
    options.module = Zun::Tools::Agent::CAgentOptions::DefaultModulePath();
    if (!screenshots.empty() && !fleet) {
        std::cerr << "quil-demo: --screenshots goes with --fleet: only the fleet demo runs the console\n";
        return Usage(std::cerr, ExitCode::kUsage);
    }
    CatchSignals();
    if (fleet) {
        return RunFleet(options, screenshots);
    }
    std::unique_ptr<Zun::Tools::Demo::CDemo> demo;
    try {
        demo.reset(new Zun::Tools::Demo::CDemo(options));
        demo->Run();
        demo->PrintSummary();
        if (options.keep) {
            std::cout << "\nKept " << demo->Session().Folder() << ". Every symbol of every message:\n  "
                      << bin << "/quil-agent logs --db " << demo->Session().Database() << "\n";
        }
        std::cout << "\n" << demo->Verdict() << "\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-demo: " << e.what() << "\n";
        if (demo) {
            std::cout << "\n" << demo->Verdict() << "\n";
        }
        return CChildProcess::Interrupted() ? ExitCode::kInterrupted : ExitCode::kFailure;
    }
}
