#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "server/admin/CAdminCommands.h"
#include "server/admin/CCertificateAuthority.h"
#include "server/console/CConsoleAccounts.h"
#include "server/console/CConsoleRouter.h"
#include "server/console/CConsoleServer.h"
#include "server/service/CFleetService.h"
#include "tests/server/CConsoleClient.h"
#include "tests/server/CTestDatabase.h"

namespace Zun {
namespace Testing {

// The console as quil-server runs it, in the test's process: a database (SQLite), the fleet service,
// the administrator's commands, the CA's server certificate and the HTTPS listener on a free port
// of localhost. The fleet has three computers that escrowed a recovery password each (the first two
// also told their storage status and licences), an
// administrator "alice" and a help desk "helen".
class CConsoleTestBed {
public:
    static const char* const kPassword;
    static const char* const kComputers[3];

    CConsoleTestBed();
    ~CConsoleTestBed();

    CConsoleClient Client() const;
    unsigned short Port() const { return m_server->Port(); }
    CTestDatabase& Database() { return m_database; }
    Server::CFleetService& Service() { return *m_service; }
    // Everything the service and the console logged.
    std::string Log();
    // The secret escrowed for the computer's password.
    static std::string SecretOf(const std::string& computer);
    static std::string KeyIdOf(const std::string& computer);
    // The soonest of the two licences the computer reported (the last computer reported none).
    static std::string LicenceExpiryOf(const std::string& computer);

private:
    void Escrow(const std::string& computer);
    static quil::link::v1::StoredRow Status(int64_t sequence, uint32_t type, const std::string& content);

    CTestDatabase m_database;
    std::unique_ptr<Server::CCertificateAuthority> m_authority;
    std::unique_ptr<Server::CItemSealer> m_sealer;
    std::unique_ptr<Server::CFleetService> m_service;
    std::unique_ptr<Server::CAdminCommands> m_commands;
    std::unique_ptr<Server::CConsoleAccounts> m_accounts;
    std::unique_ptr<Server::CConsoleRouter> m_router;
    std::unique_ptr<Server::CConsoleServer> m_server;
    std::mutex m_logLock;
    std::string m_log;
};

}  // namespace Testing
}  // namespace Zun
