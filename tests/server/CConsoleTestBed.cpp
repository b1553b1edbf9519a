#include "tests/server/CConsoleTestBed.h"

namespace Zun {
namespace Testing {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;

const char* const CConsoleTestBed::kPassword = "correct horse battery";
const char* const CConsoleTestBed::kComputers[3] = {"pc-1", "pc-2", "pc-3"};

CConsoleTestBed::CConsoleTestBed() : m_database(CTestDatabase::Engine::SQLite) {
    m_authority.reset(new Server::CCertificateAuthority(m_database.Folder() + "/ca"));
    m_authority->Init({});
    m_sealer.reset(new Server::CItemSealer(std::string(Server::CItemSealer::kKeySize, 'k')));
    const auto log = [this](int, const std::string& text) {
        std::lock_guard<std::mutex> guard(m_logLock);
        m_log += text + "\n";
    };
    m_service.reset(new Server::CFleetService(
        m_database.Store(), *m_sealer, [](const std::string&) { return true; }, log));
    m_commands.reset(new Server::CAdminCommands(m_database.Store(), *m_service));
    m_accounts.reset(new Server::CConsoleAccounts(m_database.Database()));
    m_accounts->Add("alice", "administrator", kPassword);
    m_accounts->Add("helen", "help desk", kPassword);
    for (const char* computer : kComputers) {
        Escrow(computer);
    }
    m_router.reset(new Server::CConsoleRouter(*m_accounts, m_database.Store(), *m_service, *m_commands, log));
    m_server.reset(new Server::CConsoleServer(
        {"127.0.0.1:0", m_authority->ServerCertificateFile(), m_authority->ServerKeyFile()}, *m_router));
    m_server->Start();
}

CConsoleTestBed::~CConsoleTestBed() {
    m_server->Stop();
}

CConsoleClient CConsoleTestBed::Client() const {
    return CConsoleClient(m_server->Port(), m_authority->CaCertificateFile());
}

std::string CConsoleTestBed::Log() {
    std::lock_guard<std::mutex> guard(m_logLock);
    return m_log;
}

std::string CConsoleTestBed::SecretOf(const std::string& computer) {
    return "111111-222222-" + std::to_string(computer.back() - '0') + "33333-444444";
}

std::string CConsoleTestBed::KeyIdOf(const std::string& computer) {
    return "{5E1F0000-0000-0000-0000-00000000000" + std::string(1, computer.back()) + "}";
}

void CConsoleTestBed::Escrow(const std::string& computer) {
    quil::link::v1::Hello hello;
    hello.set_agent_version("1.0.0");
    hello.set_instance_uuid("11111111-2222-3333-4444-555555555555");
    m_service->Connected(computer, "0A1B", hello, [] {});
    StoredRow row;
    row.set_sequence(1);
    row.set_time("2026-12-06T10:00:00.000Z");
    row.set_type(Server::CFleetService::kRecoveryRequest);
    row.set_class_name("CQUILProcessRecoveryDataRequest");
    row.set_description("recovery data");
    row.set_user_context("test");
    row.set_content("{}");
    RecoveryItem* item = row.add_recovery_items();
    item->set_kind(RecoveryItem::PASSWORD);
    item->set_internal_id(KeyIdOf(computer));
    item->set_device_id("disk-0");
    item->set_index("1");
    item->set_secret(SecretOf(computer));
    std::vector<StoredRow> rows = {row};
    // Its encryption storage in order and two licences, except on the last computer, which has not
    // told yet.
    if (computer != kComputers[2]) {
        rows.push_back(Status(2, 10553, "{\"rows\":[[{\"id\":4672,\"value\":1}]]}"));
        rows.push_back(Status(3, 10348,
                              "{\"rows\":[[{\"id\":2693,\"value\":\"L-1\"},{\"id\":2698,\"value\":\"" +
                                  LicenceExpiryOf(computer) +
                                  "\"}],[{\"id\":2693,\"value\":\"L-2\"},"
                                  "{\"id\":2698,\"value\":\"2031-01-01T00:00:00Z\"}]]}"));
    }
    m_service->Commit(computer, rows);
}

std::string CConsoleTestBed::LicenceExpiryOf(const std::string& computer) {
    return "2030-0" + std::string(1, computer.back()) + "-01T00:00:00Z";
}

StoredRow CConsoleTestBed::Status(int64_t sequence, uint32_t type, const std::string& content) {
    StoredRow row;
    row.set_sequence(sequence);
    row.set_time("2026-12-06T10:00:01.000Z");
    row.set_type(type);
    row.set_class_name(type == 10553 ? "CStatusLog" : "CMultiProductStatusLog");
    row.set_description("status");
    row.set_user_context("test");
    row.set_content(content);
    return row;
}

}  // namespace Testing
}  // namespace Zun
