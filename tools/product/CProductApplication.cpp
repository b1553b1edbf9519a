#include "tools/product/CProductApplication.h"

#include <Poco/File.h>
#include <Poco/JSON/Stringifier.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "QuilVersion.h"
#include "platform/CInstanceLock.h"
#include "platform/CObjectNamespace.h"
#include "platform/CObjectRoot.h"
#include "platform/CRegistryKey.h"
#include "platform/CTrustedPath.h"
#include "tools/ExitCodes.h"
#include "tools/common/CSuggestion.h"
#include "tools/product/CBroadcastPublisher.h"
#include "tools/product/CControlClient.h"
#include "tools/product/CControlDispatcher.h"
#include "tools/product/CControlServer.h"
#include "tools/product/CJsonReader.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CProductServer.h"
#include "tools/product/CServeOptions.h"
#include "tools/product/CTextInput.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

const char* const kUsage =
    "usage:\n"
    "  quil-product install [--version V]\n"
    "      writes the registry value ProductVersion (V, default 7.4.0) in the object root, which\n"
    "      tells an agent that the product is installed\n"
    "  quil-product uninstall\n"
    "      removes that value again\n"
    "  quil-product serve [--state FILE] [--lpc-only] [--control SOCKET]\n"
    "      serves the product's ports, broadcast area and control socket in the object root until\n"
    "      SIGINT or SIGTERM; --state FILE starts from that state instead of the default one\n"
    "  quil-product ctl [--control SOCKET] '<json>' | - | @FILE\n"
    "      sends one control request to the serving product and prints its answer; - reads the\n"
    "      request from standard input, @FILE from a file; requests that carry recovery secrets\n"
    "      are only taken that way, never from the command line\n"
    "  quil-product status [--control SOCKET]\n"
    "      prints the serving product's ports, counts and faults armed\n"
    "  quil-product check-state FILE\n"
    "      checks a state file as serve --state would, listing every fault, and serves nothing\n"
    "  quil-product --version | --help | <command> --help\n"
    "exit codes: 0 done, 1 failed or refused by the product, 64 bad command line\n";

// Each command's line in the usage starts with this; its description lines are indented deeper.
const char* const kCommandUsagePrefix = "  quil-product ";
const char* const kDescriptionIndent = "      ";

// Read the control request from standard input, or from the file after the at sign.
// In the object root: held by the product that serves it.
const char* const kInstanceLockName = "quil-product.lock";
const char* const kFromStandardInput = "-";
const char kFromFile = '@';
// Operations whose request carries recovery secrets, which every user could read on a command line.
const char* const kSecretOperations[] = {"add-recovery"};

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

bool CarriesSecrets(const std::string& line) {
    const std::string op =
        CJsonReader(CJsonReader::Parse(line, "the control request"), "control request").String("op");
    for (const char* secret : kSecretOperations) {
        if (op == secret) {
            return true;
        }
    }
    return false;
}

// The request itself rather than where to read it from.
bool IsInline(const std::string& source) {
    return source != kFromStandardInput && (source.empty() || source[0] != kFromFile);
}

std::string ControlText(const std::string& source) {
    if (IsInline(source)) {
        return source;
    }
    if (source == kFromStandardInput) {
        return CTextInput::ReadAll(STDIN_FILENO, CControlServer::kMaxLine, "standard input");
    }
    return Platform::CTrustedPath::ReadTrustedFile(source.substr(1), CControlServer::kMaxLine);
}

// The folder of the control socket decides who can replace it; a socket of its own choosing
// there would read the requests, recovery secrets included.
void CheckControlFolder(const std::string& socketPath) {
    const std::size_t slash = socketPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : socketPath.substr(0, slash);
    Platform::CTrustedPath::CheckSharedFolder(folder);
}

bool AnswerIsOk(const std::string& answer) {
    try {
        return CJsonReader(CJsonReader::Parse(answer, "answer"), "answer").Bool("ok");
    } catch (const CJsonError&) {
        return false;
    }
}

// The lines of the usage that describe one command: its own line and the indented ones after it.
std::string CommandUsage(const std::string& command) {
    std::istringstream lines(kUsage);
    std::string line;
    std::string usage;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line.rfind(kCommandUsagePrefix, 0) == 0) {
            std::istringstream words(line.substr(std::string(kCommandUsagePrefix).size()));
            std::string word;
            words >> word;
            inside = word == command;
        } else if (line.rfind(kDescriptionIndent, 0) != 0) {
            inside = false;
        }
        if (inside) {
            usage += line + "\n";
        }
    }
    return usage;
}

bool AsksForHelp(const std::vector<std::string>& options) {
    for (const std::string& option : options) {
        if (option == "--help" || option == "-h") {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string CProductApplication::DefaultControlPath() {
    return Platform::CObjectRoot::Path() + "/quil-product.sock";
}

int CProductApplication::Usage(const std::string& problem, const std::string& command) {
    const std::string usage = CommandUsage(command);
    std::cerr << "quil-product: " << problem << "\n"
              << (usage.empty() ? "run 'quil-product --help' for the commands\n" : "usage:\n" + usage);
    return ExitCode::kUsage;
}

int CProductApplication::Run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return Usage("no command given");
    }
    const std::string& command = arguments[0];
    const std::vector<std::string> options(arguments.begin() + 1, arguments.end());
    if (command == "--version") {
        std::cout << "quil-product " << QUIL_VERSION << "\n";
        return ExitCode::kOk;
    }
    if (AsksForHelp(options) && !CommandUsage(command).empty()) {
        std::cout << "usage:\n" << CommandUsage(command);
        return ExitCode::kOk;
    }
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
        if (command == "status") {
            return Status(options);
        }
        if (command == "check-state") {
            return CheckState(options);
        }
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        return Usage("unknown command " + command +
                     Tools::CSuggestion::DidYouMean(
                         command, {"install", "uninstall", "serve", "ctl", "status", "check-state", "help"}));
    } catch (const std::invalid_argument& e) {
        return Usage(e.what(), command);
    } catch (const std::runtime_error& e) {
        // Bad JSON, an untrusted object root, state file or request file.
        std::cerr << "quil-product: " << e.what() << "\n";
        return 1;
    }
}

int CProductApplication::Install(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--version"});
    if (!options.Positional.empty()) {
        return Usage("unexpected argument " + options.Positional[0], "install");
    }
    const std::string version = options.Version.empty() ? kDefaultProductVersion : options.Version;
    Platform::CRegistryKey key(kRegistryKey, false);
    if (!key.SetString(kRegistryValue, version)) {
        std::cerr << "quil-product: cannot write " << kRegistryValue << " under " << kRegistryKey << ": "
                  << key.Error() << "\n";
        return 1;
    }
    std::cout << "installed: " << kRegistryValue << " = " << version << " in object root "
              << Platform::CObjectRoot::Path() << " (" << Platform::CObjectRoot::Origin() << ")\n";
    return 0;
}

int CProductApplication::Uninstall(const std::vector<std::string>& arguments) {
    CServeOptions::Parse(arguments, {});
    Platform::CRegistryKey key(kRegistryKey, false);
    if (key.HasValue(kRegistryValue) && !key.DeleteValue(kRegistryValue)) {
        std::cerr << "quil-product: cannot remove " << kRegistryValue << ": " << key.Error() << "\n";
        return 1;
    }
    std::cout << "uninstalled\n";
    return 0;
}

int CProductApplication::Control(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--control"});
    if (options.Positional.size() != 1) {
        return Usage("ctl takes one JSON object, - or @FILE", "ctl");
    }
    const std::string& source = options.Positional[0];
    const std::string line = ControlLine(ControlText(source));
    if (IsInline(source) && CarriesSecrets(line)) {
        return Usage(
            "this request carries recovery secrets, which every user could read on a command line; "
            "pass it on standard input (ctl -) or in a file (ctl @FILE)",
            "ctl");
    }
    const std::string path = options.ControlPath.empty() ? DefaultControlPath() : options.ControlPath;
    // Nothing serving is the usual cause, and says more than the system's error about a folder or
    // socket that is not there.
    const std::string nobody = "no quil-product serves object root " + Platform::CObjectRoot::Path() + " (" +
                               Platform::CObjectRoot::Origin() + ")";
    if (options.ControlPath.empty()) {
        if (!Poco::File(Platform::CObjectRoot::Path()).exists()) {
            std::cerr << "quil-product: " << nobody << ": the folder does not exist\n";
            return 1;
        }
        Platform::CObjectRoot::Check();
    }
    std::string answer;
    std::string error;
    if (!CControlClient::Exchange(path, line, answer, error)) {
        const bool absent = options.ControlPath.empty() && !Poco::File(path).exists();
        std::cerr << "quil-product: " << (absent ? nobody + ": no control socket " + path : error) << "\n";
        return 1;
    }
    std::cout << answer << "\n";
    return AnswerIsOk(answer) ? 0 : 1;
}

// The ports, their use and the faults armed, as the running product sees them.
int CProductApplication::Status(const std::vector<std::string>& arguments) {
    std::vector<std::string> control = arguments;
    control.push_back("{\"op\":\"status\"}");
    return Control(control);
}

// The same check that serve --state makes, every error listed, without serving anything.
int CProductApplication::CheckState(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {});
    if (options.Positional.size() != 1) {
        return Usage("check-state takes one state file", "check-state");
    }
    const CProductState state = CProductState::Load(options.Positional[0]);
    std::cout << options.Positional[0] << ": ok (" << state.Status.size() << " status records, "
              << state.Licenses.size() << " licences, " << state.TaskResults.size() << " task results, "
              << state.RecoveryPasswords.size() << " recovery passwords, " << state.RecoveryData.size()
              << " recovery data blocks)\n";
    return 0;
}

int CProductApplication::Serve(const std::vector<std::string>& arguments) {
    const CServeOptions options = CServeOptions::Parse(arguments, {"--state", "--lpc-only", "--control"});
    if (!options.Positional.empty()) {
        return Usage("unexpected argument " + options.Positional[0], "serve");
    }
    const CProductState state = LoadState(options.StatePath);
    const std::string root = Platform::CObjectRoot::Ensure();
    // Before any socket or object is touched: a second product must change nothing of the first.
    std::unique_ptr<Platform::CInstanceLock> instance;
    std::string error;
    try {
        instance.reset(new Platform::CInstanceLock(root + "/" + kInstanceLockName));
    } catch (const Platform::CInstanceLock::CHeld& held) {
        error = "another quil-product" + held.Holder() + " already serves the object root " + root;
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    if (!instance || !Platform::CObjectNamespace::EnsureFolder(&error)) {
        CProductLog::Error(error);
        return 1;
    }
    const std::string controlPath = options.ControlPath.empty() ? DefaultControlPath() : options.ControlPath;
    CheckControlFolder(controlPath);
    // Signals are taken by the main thread alone, so they are blocked before any thread starts.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    CBroadcastPublisher publisher;
    CProduct product(state, publisher);
    CFaultPlan faults;
    CProductServer server(product, faults);
    // The op stop ends the product as SIGTERM does, and says it was asked to.
    std::atomic<bool> asked{false};
    CControlDispatcher dispatcher(product, faults, publisher, [&asked] {
        asked = true;
        kill(getpid(), SIGTERM);
    });
    dispatcher.SetStatusSource([&server, root, controlPath](Poco::JSON::Object::Ptr& answer) {
        const CProductServer::Activity activity = server.Counts();
        answer->set("objectRoot", root);
        answer->set("controlSocket", controlPath);
        answer->set("ports", activity.Ports);
        answer->set("pingsAnswered", static_cast<Poco::UInt64>(activity.Pings));
        answer->set("requestsAnswered", static_cast<Poco::UInt64>(activity.Requests));
    });
    CControlServer control(controlPath, dispatcher);
    if (!publisher.Start(state.ServerValue, error) || !server.Start(options.LpcOnly, error) ||
        !control.Start(error)) {
        CProductLog::Error(error);
        return 1;
    }
    CProductLog::Info(std::string("serving: ") + (options.LpcOnly ? "LPC port" : "ALPC and LPC ports") +
                      ", broadcast area, control socket " + controlPath + "; object root " + root + " (" +
                      Platform::CObjectRoot::Origin() + ")");
    const timespec slice = {1, 0};
    int received = -1;
    while ((received = sigtimedwait(&signals, nullptr, &slice)) < 0) {
        product.Tick(CProduct::Clock::now());
    }
    CProductLog::Info(asked ? std::string("stopping: asked to by the control op stop")
                            : "stopping on signal " + std::to_string(received));
    control.Stop();
    server.Stop();
    publisher.Stop();
    return 0;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
