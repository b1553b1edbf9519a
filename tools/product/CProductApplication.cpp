#include "tools/product/CProductApplication.h"

#include <Poco/JSON/Stringifier.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "platform/CObjectRoot.h"
#include "platform/CRegistryKey.h"
#include "tools/product/CBroadcastPublisher.h"
#include "tools/product/CControlClient.h"
#include "tools/product/CControlDispatcher.h"
#include "tools/product/CControlServer.h"
#include "tools/product/CJsonReader.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CProductServer.h"
#include "tools/product/CServeOptions.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

const char* const kUsage =
    "usage: quil-product install [--version V]\n"
    "       quil-product uninstall\n"
    "       quil-product serve [--state FILE] [--lpc-only] [--control SOCKET]\n"
    "       quil-product ctl [--control SOCKET] '<json>'\n";

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

CProductState LoadState(const std::string& path) {
    return path.empty() ? CProductState::Default() : CProductState::Load(path);
}

// Compact and checked here, so that a typo fails before the product sees it.
std::string ControlLine(const std::string& text) {
    const Poco::Dynamic::Var parsed = CJsonReader::Parse(text, "the control request");
    CJsonReader(parsed, "control request");
    std::ostringstream line;
    Poco::JSON::Stringifier::stringify(parsed, line, 0);
    return line.str();
}

bool AnswerIsOk(const std::string& answer) {
    try {
        return CJsonReader(CJsonReader::Parse(answer, "answer"), "answer").Bool("ok");
    } catch (const CJsonError&) {
        return false;
    }
}

}  // namespace

std::string CProductApplication::DefaultControlPath() {
    return Platform::CObjectRoot::Path() + "/quil-product.sock";
}

int CProductApplication::Usage(const std::string& problem) {
    std::cerr << "quil-product: " << problem << "\n" << kUsage;
    return 2;
}

int CProductApplication::Run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return Usage("no command given");
    }
    const std::string& command = arguments[0];
    const std::vector<std::string> options(arguments.begin() + 1, arguments.end());
    try {
        if (command == "install") {
            return Install(options);
        }
        if (command == "uninstall") {
            return Uninstall(options);
        }
        if (command == "serve") {
            return Serve(options);
        }
        if (command == "ctl") {
            return Control(options);
        }
        if (command == "--help" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        return Usage("unknown command " + command);
    } catch (const std::invalid_argument& e) {
        return Usage(e.what());
    } catch (const CJsonError& e) {
        std::cerr << "quil-product: " << e.what() << "\n";
        return 1;
    }
}

int CProductApplication::Install(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--version"});
    const std::string version = options.Version.empty() ? kDefaultProductVersion : options.Version;
    Platform::CRegistryKey key(kRegistryKey, false);
    if (!options.Positional.empty() || !key.SetString(kRegistryValue, version)) {
        std::cerr << "quil-product: cannot write " << kRegistryValue << " under " << kRegistryKey << "\n";
        return 1;
    }
    std::cout << "installed: " << kRegistryValue << " = " << version << "\n";
    return 0;
}

int CProductApplication::Uninstall(const std::vector<std::string>& arguments) {
    CServeOptions::Parse(arguments, {});
    Platform::CRegistryKey key(kRegistryKey, false);
    if (key.HasValue(kRegistryValue) && !key.DeleteValue(kRegistryValue)) {
        std::cerr << "quil-product: cannot remove " << kRegistryValue << "\n";
        return 1;
    }
    std::cout << "uninstalled\n";
    return 0;
}

int CProductApplication::Control(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--control"});
    if (options.Positional.size() != 1) {
        return Usage("ctl takes one JSON object");
    }
    const std::string path = options.ControlPath.empty() ? DefaultControlPath() : options.ControlPath;
    std::string answer;
    std::string error;
    if (!CControlClient::Exchange(path, ControlLine(options.Positional[0]), answer, error)) {
        std::cerr << "quil-product: " << error << "\n";
        return 1;
    }
    std::cout << answer << "\n";
    return AnswerIsOk(answer) ? 0 : 1;
}

int CProductApplication::Serve(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--state", "--lpc-only", "--control"});
    if (!options.Positional.empty()) {
        return Usage("unexpected argument " + options.Positional[0]);
    }
    const CProductState state = LoadState(options.StatePath);
    // Signals are taken by the main thread alone, so they are blocked before any thread starts.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Platform::CObjectRoot::EnsureDirectory(Platform::CObjectRoot::Path());
    const std::string controlPath = options.ControlPath.empty() ? DefaultControlPath() : options.ControlPath;

    std::string error;
    CBroadcastPublisher publisher;
    CProduct product(state, publisher);
    CFaultPlan faults;
    CProductServer server(product, faults);
    CControlDispatcher dispatcher(product, faults, publisher, [] { kill(getpid(), SIGTERM); });
    CControlServer control(controlPath, dispatcher);
    if (!publisher.Start(state.ServerValue, error) || !server.Start(options.LpcOnly, error) ||
        !control.Start(error)) {
        CProductLog::Error(error);
        return 1;
    }
    CProductLog::Info(std::string("serving: ") + (options.LpcOnly ? "LPC port" : "ALPC and LPC ports") +
                      ", broadcast area, control socket " + controlPath);
    const timespec slice = {1, 0};
    int received = -1;
    while ((received = sigtimedwait(&signals, nullptr, &slice)) < 0) {
        product.Tick(CProduct::Clock::now());
    }
    CProductLog::Info("stopping on signal " + std::to_string(received));
    control.Stop();
    server.Stop();
    publisher.Stop();
    return 0;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
