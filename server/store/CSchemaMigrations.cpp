#include "server/store/CSchemaMigrations.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>
#include <stdexcept>

namespace Zun {
namespace Server {

using namespace Poco::Data::Keywords;

namespace {

const char* const kVersionTable =
    "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)";

const std::string kSqliteId = "id INTEGER PRIMARY KEY AUTOINCREMENT";
const std::string kPostgresId = "id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY";

// Statements both engines take, given the engine's way of numbering rows.
std::vector<std::string> Tables(const std::string& id) {
    return {
        "CREATE TABLE computers (name TEXT PRIMARY KEY, certificate_serial TEXT NOT NULL DEFAULT '', "
        "instance_uuid TEXT NOT NULL DEFAULT '', agent_version TEXT NOT NULL DEFAULT '', "
        "first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, connected INTEGER NOT NULL DEFAULT 0, "
        "committed_through BIGINT NOT NULL DEFAULT 0)",
        "CREATE TABLE agent_rows (computer TEXT NOT NULL REFERENCES computers(name), sequence BIGINT NOT "
        "NULL, "
        "time TEXT NOT NULL, type BIGINT NOT NULL, class TEXT NOT NULL, description TEXT NOT NULL, "
        "user_context TEXT NOT NULL, content TEXT NOT NULL, received_at TEXT NOT NULL, "
        "UNIQUE (computer, sequence))",
        "CREATE INDEX agent_rows_by_type ON agent_rows (computer, type, sequence)",
        "CREATE TABLE recovery_items (" + id +
            ", computer TEXT NOT NULL REFERENCES computers(name), kind TEXT NOT NULL, "
            "internal_id TEXT NOT NULL, device_id TEXT NOT NULL, item_index TEXT NOT NULL, sealed TEXT NOT "
            "NULL, "
            "row_sequence BIGINT NOT NULL, state TEXT NOT NULL, escrowed_at TEXT NOT NULL, "
            "confirmation_task BIGINT NOT NULL DEFAULT 0, agent_task_sequence BIGINT NOT NULL DEFAULT 0, "
            "confirmation_sent_at TEXT NOT NULL DEFAULT '', confirmed_at TEXT NOT NULL DEFAULT '', "
            "superseded_at TEXT NOT NULL DEFAULT '', UNIQUE (computer, kind, internal_id))",
        "CREATE TABLE tasks (" + id +
            ", computer TEXT NOT NULL REFERENCES computers(name), line TEXT NOT NULL, purpose TEXT NOT NULL, "
            "task_ids TEXT NOT NULL DEFAULT '', state TEXT NOT NULL, queued_at TEXT NOT NULL, "
            "taken_at TEXT NOT NULL DEFAULT '', answered_at TEXT NOT NULL DEFAULT '', "
            "ok INTEGER NOT NULL DEFAULT 0, answer TEXT NOT NULL DEFAULT '', "
            "agent_sequence BIGINT NOT NULL DEFAULT 0)",
        "CREATE INDEX tasks_by_state ON tasks (computer, state, id)",
        "CREATE TABLE audit (" + id +
            ", time TEXT NOT NULL, who TEXT NOT NULL, uid BIGINT NOT NULL, action TEXT NOT NULL, "
            "computer TEXT NOT NULL, items TEXT NOT NULL, reason TEXT NOT NULL)",
    };
}

// The audit is append-only, and not only by our code's choice: the database refuses the rest.
std::vector<std::string> SqliteMigration1() {
    std::vector<std::string> statements = Tables(kSqliteId);
    for (const char* change : {"UPDATE", "DELETE"}) {
        statements.push_back(std::string("CREATE TRIGGER audit_refuses_") + change + " BEFORE " + change +
                             " ON audit BEGIN SELECT RAISE(ABORT, 'audit rows are append-only'); END");
    }
    return statements;
}

std::vector<std::string> PostgresMigration1() {
    std::vector<std::string> statements = Tables(kPostgresId);
    statements.push_back(
        "CREATE FUNCTION audit_append_only() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "RAISE EXCEPTION 'audit rows are append-only'; END $$");
    statements.push_back(
        "CREATE TRIGGER audit_refuses_changes BEFORE UPDATE OR DELETE ON audit "
        "FOR EACH ROW EXECUTE FUNCTION audit_append_only()");
    statements.push_back(
        "CREATE TRIGGER audit_refuses_truncate BEFORE TRUNCATE ON audit "
        "FOR EACH STATEMENT EXECUTE FUNCTION audit_append_only()");
    return statements;
}

// Several servers may share one PostgreSQL database: each computer records the server that holds
// its link, so that a server that notices a stream's end late does not mark a computer
// disconnected that has moved on to another. Retention walks rows by the time they arrived.
std::vector<std::string> Migration2() {
    return {
        "ALTER TABLE computers ADD COLUMN connected_via TEXT NOT NULL DEFAULT ''",
        "CREATE INDEX agent_rows_by_arrival ON agent_rows (received_at)",
        "CREATE INDEX recovery_items_by_row ON recovery_items (computer, row_sequence)",
        "CREATE INDEX recovery_items_by_task ON recovery_items (confirmation_task)",
        "CREATE INDEX tasks_by_answer ON tasks (state, answered_at)",
    };
}

// The console's local accounts: an Argon2id hash (libsodium's string, which names its own
// parameters and salt), the role, and the count of failed sign-ins since the last good one.
std::vector<std::string> ConsoleAccounts() {
    return {
        "CREATE TABLE console_accounts (name TEXT PRIMARY KEY, role TEXT NOT NULL, "
        "password_hash TEXT NOT NULL, failures INTEGER NOT NULL DEFAULT 0, "
        "locked_until TEXT NOT NULL DEFAULT '', created_at TEXT NOT NULL)",
    };
}

// When each console account last signed in, for the administrators' list of accounts; what each
// computer's newest storage status and licences said, kept as they arrive so that a fleet page
// need not read every computer's logs.
std::vector<std::string> AccountSignIns() {
    return {"ALTER TABLE console_accounts ADD COLUMN last_sign_in TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE computers ADD COLUMN encryption TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE computers ADD COLUMN licence_expiry TEXT NOT NULL DEFAULT ''"};
}

// Whether each computer's agent reaches the product and its newest protection line, kept as rows
// arrive as the storage and licences are; computers known before are read once from their rows
// (readings_kept 0), those added from now on start with nothing to read.
std::vector<std::string> KeptReadings() {
    return {"ALTER TABLE computers ADD COLUMN product TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE computers ADD COLUMN protection TEXT NOT NULL DEFAULT ''",
            "ALTER TABLE computers ADD COLUMN readings_kept INTEGER NOT NULL DEFAULT 0"};
}

std::string Now() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y-%m-%dT%H:%M:%S.%iZ");
}

}  // namespace

const std::vector<CSchemaMigrations::Migration>& CSchemaMigrations::All() {
    static const std::vector<Migration> migrations = {
        {1, SqliteMigration1(), PostgresMigration1()}, {2, Migration2(), Migration2()},
        {3, ConsoleAccounts(), ConsoleAccounts()},     {4, AccountSignIns(), AccountSignIns()},
        {5, KeptReadings(), KeptReadings()},
    };
    return migrations;
}

int CSchemaMigrations::Latest() {
    return All().back().version;
}

int CSchemaMigrations::Current(Poco::Data::Session& session) {
    session << kVersionTable, now;
    Poco::Int64 version = 0;
    session << "SELECT COALESCE(MAX(version), 0) FROM schema_version", into(version), now;
    return static_cast<int>(version);
}

int CSchemaMigrations::Apply(CServerDatabase& database) {
    int found = 0;
    database.InTransaction([&](Poco::Data::Session& session) { found = Current(session); });
    if (found > Latest()) {
        throw std::runtime_error("the schema is at version " + std::to_string(found) +
                                 ", newer than this server's " + std::to_string(Latest()));
    }
    const bool sqlite = database.Kind() == CServerDatabase::Engine::SQLite;
    for (const Migration& migration : All()) {
        if (migration.version <= found) {
            continue;
        }
        database.InTransaction([&](Poco::Data::Session& session) {
            for (const std::string& statement : sqlite ? migration.sqlite : migration.postgresql) {
                session << statement, now;
            }
            int version = migration.version;
            std::string applied = Now();
            session << database.Placeholders(
                "INSERT INTO schema_version (version, applied_at) VALUES (?, ?)"),
                use(version), use(applied), now;
        });
    }
    return found;
}

}  // namespace Server
}  // namespace Zun
