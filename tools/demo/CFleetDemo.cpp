#include "tools/demo/CFleetDemo.h"

#include <Poco/File.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "tools/agent/store/CSecretWiper.h"
#include "tools/browser/CHeadlessChromium.h"

namespace Zun {
namespace Tools {
namespace Demo {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const seconds kCommand(15);
const seconds kStart(20);
// The first watchdog look, the escrow, its confirmation and the product's next recovery reply.
const seconds kEscrow(90);
const seconds kTaskResults(60);
// A ping failure shows within a watchdog period or two.
const seconds kUnreachable(60);
// Between two looks at the fleet view: the server answers from its database at once.
const milliseconds kPoll(500);
const char kFolderPattern[] = "/tmp/quil-fleet-XXXXXX";
const char kConfirmed[] = "confirmed by the product";
const char kReason[] = "Help desk ticket 4711: user locked out after a BIOS update";
const char kConsoleOpening[] = "Serving the console on ";
// The console account the screenshots are taken as, with a password of its own on every run.
const char kDemoAccount[] = "demo";
const int kPasswordBytes = 16;
// Wide enough for every column of the fleet table, small enough for a README.
const int kScreenshotWidth = 1200;
const char kFleetPicture[] = "console-fleet.png";
const char kRecoveryPicture[] = "console-recovery.png";
const char kComputerPicture[] = "console-computer.png";
const char kAuditPicture[] = "console-audit.png";
const char kTasksPicture[] = "console-tasks.png";
const char kAccountsPicture[] = "console-accounts.png";

// The recovery password the computer's product holds.
std::string SecretOf(int computer) {
    return "11111" + std::to_string(computer) + "-222222-333333-444444";
}

// Each computer's licence runs out a month after the one before, from 2030-01-01, so that the fleet
// page's licence column tells them apart.
const long kLicenceExpiry = 1893456000;
const long kLicenceStep = 31 * 24 * 3600;

// Each computer's product holds one recovery password, one recovery data block and a licence of its
// own.
std::string ProductState(int computer) {
    const std::string n = std::to_string(computer);
    return R"({
  "Status": [{"Status": 0, "CategoryResId": "0x12000001", "StatusResId": "0x120000FD", "DescriptionResId": "0x1"}],
  "Licenses": [{"AssociatedSeatId": "SEAT-)" +
           n + R"(", "LicensePublicId": "VELM-FDE-000)" + n + R"(",
                "LicenseProductName": "VELM Full Disk Encryption", "LicenseExpirationDate": )" +
           std::to_string(kLicenceExpiry + computer * kLicenceStep) + R"(,
                "ActivatedByZun": false, "ProductCode": 29, "SeatName": "demo-desk", "LicenseRenewalPeriod": 365,
                "LicenseType": "Subscription", "LicenseFlags": 0, "LicenseModelType": "Seat",
                "LicenseModelStatus": "Active"}],
  "RecoveryPasswords": [{"Uid": "rp-)" +
           n + R"(", "DeviceId": "disk-0", "Index": "0", "Value": ")" + SecretOf(computer) + R"("}],
  "RecoveryData": [{"Uid": "rd-)" +
           n + R"(", "DeviceId": "disk-0", "ValueBase64": "cmVjb3ZlcnktYmxvY2s="}],
  "RecoveryReannounceSeconds": 0
})";
}

std::string Name(int computer) {
    return "desk-" + std::to_string(computer);
}

std::string RandomPassword() {
    unsigned char bytes[kPasswordBytes];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        throw std::runtime_error("no random bytes for the demo account's password");
    }
    static const char kHex[] = "0123456789abcdef";
    std::string password;
    for (unsigned char byte : bytes) {
        password += kHex[byte >> 4];
        password += kHex[byte & 0xF];
    }
    Agent::CSecretWiper::Wipe(bytes, sizeof bytes);
    return password;
}

Poco::JSON::Array::Ptr ParseHosts(const std::string& json) {
    try {
        Poco::JSON::Parser parser;
        Poco::Dynamic::Var parsed = parser.parse(json);
        if (parsed.type() == typeid(Poco::JSON::Array::Ptr)) {
            return parsed.extract<Poco::JSON::Array::Ptr>();
        }
        return parsed.extract<Poco::JSON::Object::Ptr>()->getArray("hosts");
    } catch (const Poco::Exception&) {
        return nullptr;
    }
}

Poco::JSON::Object::Ptr Host(const std::string& json, const std::string& name) {
    const Poco::JSON::Array::Ptr hosts = ParseHosts(json);
    for (size_t i = 0; hosts && i < hosts->size(); ++i) {
        const Poco::JSON::Object::Ptr host = hosts->getObject(static_cast<unsigned>(i));
        if (host && host->optValue<std::string>("name", "") == name) {
            return host;
        }
    }
    return nullptr;
}

// Every escrowed item of the computer is confirmed by its product (and there is at least one).
bool EscrowConfirmed(const Poco::JSON::Object::Ptr& host) {
    return host && host->optValue<int>("items", 0) > 0 && host->optValue<int>("items_unconfirmed", 1) == 0;
}

std::string ProductOf(const Poco::JSON::Object::Ptr& host) {
    return host ? host->optValue<std::string>("product", "") : "";
}

}  // namespace

CFleetDemo::CFleetDemo(const CSession::Options& options, const std::string& screenshots)
    : m_options(options),
      m_screenshots(screenshots),
      m_steps(kSteps + (screenshots.empty() ? 0 : kScreenshotSteps)),
      m_start(std::chrono::steady_clock::now()) {
    char pattern[sizeof kFolderPattern];
    std::copy(kFolderPattern, kFolderPattern + sizeof kFolderPattern, pattern);
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("Cannot make a folder under /tmp");
    }
    m_folder = pattern;
    m_config = m_folder + "/server.conf";
}

CFleetDemo::~CFleetDemo() {
    m_computers.clear();
    m_server.reset();
    if (!m_options.keep) {
        std::string output;
        CChildProcess::Run({"rm", "-rf", "--one-file-system", m_folder}, output, After(kCommand));
    }
}

void CFleetDemo::Run() {
    std::cout << "QUIL fleet demo: quil-server with " << kComputers << " computers linked to it\n"
              << "  folder " << m_folder << "\n";
    try {
        StartServer();
        StartComputers();
        EscrowLoop();
        Reveal();
        TaskToAll();
        Unreachable();
        if (!m_screenshots.empty()) {
            Screenshots();
        }
        StopAll();
        m_steps.Finish();
    } catch (const std::exception&) {
        if (!CChildProcess::Interrupted()) {
            ShowServerTail();
        }
        throw;
    }
}

std::string CFleetDemo::Verdict() const {
    return m_steps.Verdict(CChildProcess::Interrupted());
}

std::string CFleetDemo::Outcome() const {
    return "escrow confirmed by the product on " + std::to_string(m_confirmed) + " of " +
           std::to_string(kComputers) + " computers, " + std::to_string(m_reveals) + " audited reveal" +
           (m_reveals == 1 ? "" : "s");
}

void CFleetDemo::Step(const std::string& title) {
    const int number = m_steps.Begin(title);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%5.1f s", elapsed);
    std::cout << "\n[" << stamp << "] " << number << ". " << title << "\n";
}

// Each line of the text indented under its step.
void CFleetDemo::Fact(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            std::cout << "    " << line << "\n";
        }
    }
}

std::string CFleetDemo::Server(const std::vector<std::string>& arguments, const std::string& input) {
    std::vector<std::string> argv = {m_options.binaries + "/quil-server"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.insert(argv.end(), {"--config", m_config});
    std::string output;
    if (CChildProcess::Run(argv, output, After(kCommand), input) != 0) {
        throw std::runtime_error("quil-server " + arguments.front() + " failed: " + output);
    }
    return output;
}

std::vector<CChildProcess*> CFleetDemo::Children() {
    std::vector<CChildProcess*> children;
    if (m_server) {
        children.push_back(m_server.get());
    }
    for (const auto& computer : m_computers) {
        for (CChildProcess* child : {computer->Agent(), computer->Product()}) {
            if (child != nullptr) {
                children.push_back(child);
            }
        }
    }
    return children;
}

void CFleetDemo::RequireHosts(const std::string& what,
                              const std::function<bool(const std::string&)>& condition,
                              std::chrono::milliseconds timeout) {
    const Deadline deadline = After(timeout);
    while (!CChildProcess::Interrupted()) {
        if (condition(Server({"hosts", "--json"}))) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        // Whatever a program writes meanwhile is read, so none of them blocks on a full pipe.
        CChildProcess::WaitUntil(
            Children(), [] { return false; }, After(kPoll));
    }
    throw std::runtime_error(CChildProcess::Interrupted() ? "Interrupted" : "Timed out waiting for " + what);
}

void CFleetDemo::RequireHost(const std::string& name, const std::string& what,
                             const std::function<bool(const Poco::JSON::Object&)>& condition,
                             Deadline deadline) {
    while (!CChildProcess::Interrupted()) {
        Poco::JSON::Object::Ptr host;
        try {
            Poco::JSON::Parser parser;
            host = parser.parse(Server({"host", name, "--json"}))
                       .extract<Poco::JSON::Object::Ptr>()
                       ->getObject("host");
        } catch (const Poco::Exception&) {
        }
        if (host && condition(*host)) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        CChildProcess::WaitUntil(
            Children(), [] { return false; }, After(kPoll));
    }
    throw std::runtime_error(CChildProcess::Interrupted() ? "Interrupted" : "Timed out waiting for " + what);
}

void CFleetDemo::StartServer() {
    Step("quil-server: its CA, a certificate per computer, the server on its embedded database");
    mkdir((m_folder + "/server").c_str(), 0700);
    std::ofstream(m_config) << "state-folder = " << m_folder << "/server\n"
                            << "listen = 127.0.0.1:0\n"
                            << "console-listen = 127.0.0.1:0\n"
                            << "admin-socket = " << m_folder << "/server/admin.sock\n"
                            << "log-file = " << m_folder << "/server/server.log\n";
    chmod(m_config.c_str(), 0600);
    Server({"ca", "init"});
    Fact("CA made in " + m_folder + "/server");
    for (int i = 1; i <= kComputers; ++i) {
        Server({"enrol", Name(i), "--out", m_folder + "/" + Name(i) + ".bundle"});
    }
    Fact("enrolled " + Name(1) + " to " + Name(kComputers) + ", one owner-only bundle each");
    m_server.reset(new CChildProcess({m_options.binaries + "/quil-server", "run", "--config", m_config},
                                     m_folder + "/server.out"));
    CChildProcess* server = m_server.get();
    const std::string opening = "listening for agents on ";
    if (!CChildProcess::WaitUntil(
            Children(), [&] { return server->Errors().find(opening) != std::string::npos; }, After(kStart))) {
        throw std::runtime_error("quil-server did not start: " + server->Errors());
    }
    const size_t at = server->Errors().find(opening) + opening.size();
    m_address = server->Errors().substr(at, server->Errors().find_first_of(" \n", at) - at);
    Fact("serving agents on " + m_address + " (mutual TLS 1.3)");
    const size_t console = server->Errors().find(kConsoleOpening);
    if (console == std::string::npos) {
        throw std::runtime_error("quil-server did not serve its console: " + server->Errors());
    }
    const size_t from = console + sizeof kConsoleOpening - 1;
    m_console = server->Errors().substr(from, server->Errors().find_first_of(" \n", from) - from);
    m_console.erase(m_console.find_last_not_of('/') + 1);
    Fact("serving the web console on " + m_console + "/");
}

void CFleetDemo::StartComputers() {
    Step("Three computers: a product with recovery material and an agent linked to the server");
    for (int i = 1; i <= kComputers; ++i) {
        m_computers.emplace_back(new CSession(m_options));
        CSession& computer = *m_computers.back();
        computer.InstallProduct();
        computer.StartProduct(ProductState(i));
        computer.StartAgent({"--server", m_address, "--server-bundle", m_folder + "/" + Name(i) + ".bundle"});
        Fact(Name(i) + ": product and agent running in " + computer.Folder());
    }
    RequireHosts(
        "all three computers to connect",
        [](const std::string& json) {
            for (int i = 1; i <= kComputers; ++i) {
                if (ProductOf(Host(json, Name(i))) != "connected") {
                    return false;
                }
            }
            return true;
        },
        kEscrow);
    Fact("the fleet view lists all three, product connected");
}

void CFleetDemo::EscrowLoop() {
    Step("Escrow: recovery items sealed on the server, confirmed to each product, confirmed by it");
    RequireHosts(
        "escrow confirmed by the product on every computer",
        [this](const std::string& json) {
            m_confirmed = 0;
            for (int i = 1; i <= kComputers; ++i) {
                m_confirmed += EscrowConfirmed(Host(json, Name(i))) ? 1 : 0;
            }
            return m_confirmed == kComputers;
        },
        kEscrow);
    Fact("every item " + std::string(kConfirmed) + " on " + std::to_string(m_confirmed) + " of " +
         std::to_string(kComputers) + " computers");
}

void CFleetDemo::Reveal() {
    Step("A help desk reveals " + Name(2) + "'s recovery password, behind a reason and an audit row");
    const std::string revealed = Server({"reveal", Name(2), "--reason", kReason});
    if (revealed.find(SecretOf(2)) == std::string::npos) {
        throw std::runtime_error("the revealed password is not the product's: " + revealed);
    }
    Fact("revealed: " + revealed.substr(0, revealed.find('\n')));
    const std::string audit = Server({"audit"});
    if (audit.find(kReason) == std::string::npos) {
        throw std::runtime_error("the reveal left no audit row: " + audit);
    }
    ++m_reveals;
    Fact("audit row: " + audit.substr(audit.rfind('\n', audit.size() - 2) + 1, 160));
}

void CFleetDemo::TaskToAll() {
    Step("One task to every computer: block the user's encryption password");
    Fact(Server({"task", "--all", "{\"task\":\"block-password\"}"}));
    const Deadline deadline = After(kTaskResults);
    for (int i = 1; i <= kComputers; ++i) {
        const std::string name = Name(i);
        RequireHost(
            name, "a result of the task from " + name,
            [](const Poco::JSON::Object& host) {
                const Poco::JSON::Array::Ptr results = host.getArray("task_results");
                return results && results->size() > 0;
            },
            deadline);
    }
    Fact("a task result from each of the " + std::to_string(kComputers) + " computers");
}

void CFleetDemo::Unreachable() {
    Step(Name(3) + "'s product stops answering: the fleet view shows it not reachable");
    m_computers.back()->Control("{\"op\":\"pings\",\"answer\":false}");
    RequireHosts(
        Name(3) + " to show as not reachable",
        [](const std::string& json) { return ProductOf(Host(json, Name(kComputers))) == "not reachable"; },
        kUnreachable);
    Fact(Server({"hosts"}));
}

// The fleet as the last steps left it (one computer not reachable), the recovery page of the
// computer whose password was revealed, as it is before a reveal (a picture never holds a secret),
// then the other pages: a computer, the audit with that reveal, the tasks and the accounts.
void CFleetDemo::Screenshots() {
    Step("The console in a headless Chromium: each page, kept in " + m_screenshots);
    if (!Tools::CHeadlessChromium::Installed()) {
        Fact(std::string("skipped: no Chromium at ") + Tools::CHeadlessChromium::kProgram +
             " (apt-get install chromium), so no screenshots");
        return;
    }
    Poco::File(m_screenshots).createDirectories();
    std::string password = RandomPassword();
    Server({"user", "add", kDemoAccount, "--role", "administrator"}, password + "\n");
    Tools::CHeadlessChromium browser;
    browser.Navigate(m_console + "/login");
    browser.Submit(Tools::CHeadlessChromium::Fill("/login", "user", kDemoAccount) +
                   Tools::CHeadlessChromium::Fill("/login", "password", password) +
                   Tools::CHeadlessChromium::Send("/login"));
    Agent::CSecretWiper::Wipe(password);
    if (browser.Path() != "/fleet") {
        throw std::runtime_error("the console did not sign the demo account in: " + browser.Text());
    }
    Keep(browser, kFleetPicture);
    browser.Navigate(m_console + "/recovery?q=" + Name(2));
    const std::string page = browser.Text();
    if (page.find(SecretOf(2)) != std::string::npos) {
        throw std::runtime_error("the recovery page shows a recovery password before any reveal");
    }
    if (page.find("Reveal the passwords") == std::string::npos) {
        throw std::runtime_error("the recovery page offers no reveal for " + Name(2) + ": " + page);
    }
    Keep(browser, kRecoveryPicture);
    const std::pair<std::string, const char*> pages[] = {{"/computer?name=" + Name(1), kComputerPicture},
                                                         {"/audit", kAuditPicture},
                                                         {"/tasks", kTasksPicture},
                                                         {"/accounts", kAccountsPicture}};
    for (const auto& page : pages) {
        browser.Navigate(m_console + page.first);
        Keep(browser, page.second);
    }
}

void CFleetDemo::Keep(Tools::CHeadlessChromium& browser, const std::string& name) {
    const std::string png = browser.Screenshot(kScreenshotWidth);
    const std::string path = m_screenshots + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(png.data(), static_cast<std::streamsize>(png.size()));
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
    Fact(path + ": " + browser.Path() + ", " + std::to_string(kScreenshotWidth) + " px wide, " +
         std::to_string((png.size() + 1023) / 1024) + " KB");
}

void CFleetDemo::StopAll() {
    Step("Stopping the agents, the products and the server");
    for (const auto& computer : m_computers) {
        computer->StopAgent();
        computer->StopProduct();
    }
    m_server->Signal(SIGTERM);
    const int code = m_server->WaitForExit(After(kCommand));
    Fact("quil-server exited with " + std::to_string(code));
}

void CFleetDemo::ShowServerTail() {
    if (!m_server) {
        return;
    }
    const std::string& errors = m_server->Errors();
    std::cerr << "The server's last lines:\n"
              << errors.substr(errors.size() > 3000 ? errors.size() - 3000 : 0);
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
