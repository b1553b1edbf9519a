#include "server/CServerApplication.h"

#include <iostream>
#include <map>
#include <memory>

#include "QuilVersion.h"
#include "platform/CTrustedPath.h"
#include "server/admin/CAdminCommands.h"
#include "server/admin/CAdminServer.h"
#include "server/admin/CCertificateAuthority.h"
#include "server/api/CLinkServer.h"
#include "server/console/CConsoleAccounts.h"
#include "server/console/CConsoleRouter.h"
#include "server/console/CConsoleServer.h"
#include "server/console/CPasswordPrompt.h"
#include "server/service/CFleetService.h"
#include "server/store/CHistoryRetention.h"
#include "server/store/CServerDatabase.h"
#include "server/store/CTaskListener.h"
#include "tools/ExitCodes.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

namespace ExitCode = Tools::ExitCode;

namespace {

const char* const kLevels[] = {"DEBUG", "INFO", "WARN", "ERROR"};
const int kError = 3;
const int kInfo = 1;

int Threshold(const std::string& level) {
    static const std::map<std::string, int> thresholds = {
        {"TRACE", 0}, {"DEBUG", 0}, {"INFO", 1}, {"WARN", 2}, {"ERROR", 3}};
    const auto found = thresholds.find(level);
    return found == thresholds.end() ? kInfo : found->second;
}

}  // namespace

CServerApplication::CServerApplication(const CServerOptions& options)
    : m_options(options), m_threshold(Threshold(options.logLevel)) {}

void CServerApplication::Log(int level, const std::string& text) {
    if (level < m_threshold) {
        return;
    }
    const std::string line = Tools::Agent::CAgentStore::Now() + " " +
                             kLevels[level < 0        ? 0
                                     : level > kError ? kError
                                                      : level] +
                             " " + text;
    std::lock_guard<std::mutex> guard(m_logLock);
    std::cerr << line << std::endl;
    if (m_logFile.is_open()) {
        m_logFile << line << std::endl;
    }
}

std::string CServerApplication::CaFolder() const {
    return m_options.stateFolder + "/ca";
}

int CServerApplication::Run() {
    const auto log = [this](int level, const std::string& text) { Log(level, text); };
    try {
        BlockStopSignals();
        Platform::CTrustedPath::EnsureFolder(m_options.stateFolder);
        Platform::CTrustedPath::EnsurePrivateFile(m_options.logFile);
        m_logFile.open(m_options.logFile, std::ios::app);
        Log(kInfo,
            std::string("quil-server ") + QUIL_VERSION + " starting; state folder " + m_options.stateFolder);

        CServerDatabase database(m_options.database);
        Log(kInfo, "Database " + database.Describe() + " at schema version " +
                       std::to_string(database.SchemaVersion()));
        std::string key = CItemSealer::LoadOrCreateKey(m_options.stateFolder + "/server.key");
        const CItemSealer sealer(key);
        Tools::Agent::CSecretWiper::Wipe(key);

        CCertificateAuthority authority(CaFolder());
        CFleetStore store(database);
        CFleetService service(
            store, sealer, [&authority](const std::string& serial) { return authority.IsCurrent(serial); },
            log);
        CAdminCommands commands(store, service, [&authority](const std::string& name) {
            for (const CCertificateAuthority::Issued& issued : authority.List()) {
                if (issued.computer == name && authority.IsCurrent(issued.serial)) {
                    return true;
                }
            }
            return false;
        });
        CAdminServer admin(
            m_options.adminSocket,
            [&commands](const std::string& line, const CAdminCommands::Peer& peer) {
                return commands.Handle(line, peer);
            },
            log);
        admin.Start();
        CConsoleAccounts accounts(database);
        CConsoleRouter router(accounts, store, service, commands, log);
        CConsoleServer console(ConsoleSettings(authority), router);
        if (!m_options.consoleListen.empty()) {
            console.Start();
            Log(kInfo, "Serving the console on https://" +
                           m_options.consoleListen.substr(0, m_options.consoleListen.rfind(':')) + ":" +
                           std::to_string(console.Port()) + "/");
        }
        CLinkServer link({m_options.listen, authority.CaCertificateFile(), authority.ServerCertificateFile(),
                          authority.ServerKeyFile()},
                         service, log);
        link.Start();
        // Servers sharing a PostgreSQL database hear of the tasks queued through the others.
        std::unique_ptr<CTaskListener> listener;
        if (database.Kind() == CServerDatabase::Engine::PostgreSQL) {
            listener.reset(new CTaskListener(
                m_options.database, service.ServerId(),
                [&service](const std::string& computer) { service.WakeComputer(computer); },
                [&service] { service.WakeAll(); }, log));
            listener->Start();
        }
        // On a connection of its own, so that pruning never holds up the agents' commits.
        CServerDatabase retentionDatabase(m_options.database);
        CHistoryRetention retention(retentionDatabase, {m_options.retentionRows, m_options.retentionDays},
                                    log);
        retention.Start();
        Log(kInfo, "Serving agents on port " + std::to_string(link.Port()) + ", administrators on " +
                       m_options.adminSocket);
        const int signal = WaitForStop();
        Log(kInfo, "Stopping on signal " + std::to_string(signal));
        retention.Stop();
        if (listener) {
            listener->Stop();
        }
        link.Stop();
        console.Stop();
        admin.Stop();
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        Log(kError, std::string("quil-server cannot run: ") + e.what());
        return ExitCode::kFailure;
    }
}

// The CA's server certificate unless the administrator named one; a key of their own must be a
// private file of ours (made owner-only here when it was not).
CConsoleServer::Settings CServerApplication::ConsoleSettings(const CCertificateAuthority& authority) const {
    CConsoleServer::Settings settings{m_options.consoleListen, authority.ServerCertificateFile(),
                                      authority.ServerKeyFile()};
    if (!m_options.consoleCertificate.empty() || !m_options.consoleKey.empty()) {
        if (m_options.consoleCertificate.empty() || m_options.consoleKey.empty()) {
            throw std::invalid_argument("the console's certificate and key are given together");
        }
        Platform::CTrustedPath::EnsurePrivateFile(m_options.consoleKey);
        settings.certificateFile = m_options.consoleCertificate;
        settings.keyFile = m_options.consoleKey;
    }
    return settings;
}

int CServerApplication::UserAdd() {
    try {
        CServerDatabase database(m_options.database);
        std::string password = CPasswordPrompt::Read("Password for " + m_options.name + ": ");
        CConsoleAccounts accounts(database);
        try {
            accounts.Add(m_options.name, m_options.role, password);
        } catch (...) {
            Tools::Agent::CSecretWiper::Wipe(password);
            throw;
        }
        Tools::Agent::CSecretWiper::Wipe(password);
        std::cout << "added the console account " << m_options.name << " ("
                  << CConsoleAccounts::RoleNamed(m_options.role) << ")\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-server: " << e.what() << "\n";
        return ExitCode::kFailure;
    }
}

int CServerApplication::CaInit() {
    try {
        Platform::CTrustedPath::EnsureFolder(m_options.stateFolder);
        CCertificateAuthority(CaFolder()).Init(m_options.serverNames);
        std::cout << "CA and server certificate made in " << CaFolder() << "\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-server: " << e.what() << "\n";
        return ExitCode::kFailure;
    }
}

int CServerApplication::Enrol() {
    try {
        const CCertificateAuthority::Issued issued =
            CCertificateAuthority(CaFolder()).Enrol(m_options.name, m_options.out, m_options.validDays);
        std::cout << "issued " << issued.serial << " to " << issued.computer << " until " << issued.notAfter
                  << ": " << m_options.out << "\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-server: " << e.what() << "\n";
        return ExitCode::kFailure;
    }
}

int CServerApplication::Revoke() {
    try {
        CCertificateAuthority(CaFolder()).Revoke(m_options.name);
        std::cout << "revoked the certificates of " << m_options.name << "\n";
        return ExitCode::kOk;
    } catch (const std::exception& e) {
        std::cerr << "quil-server: " << e.what() << "\n";
        return ExitCode::kFailure;
    }
}

}  // namespace Server
}  // namespace Zun
