#include "server/console/CConsoleAccounts.h"

#include <Poco/Data/RecordSet.h>
#include <Poco/Data/Statement.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>
#include <sodium.h>

#include <map>
#include <stdexcept>

namespace Zun {
namespace Server {

using namespace Poco::Data::Keywords;
using Poco::Data::Session;

const char* const CConsoleAccounts::kHelpDesk = "help desk";
const char* const CConsoleAccounts::kAdministrator = "administrator";

namespace {

const std::size_t kMaxName = 64;
const char* const kNameCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._@-";

std::string Format(const Poco::Timestamp& time) {
    return Poco::DateTimeFormatter::format(time, "%Y-%m-%dT%H:%M:%S.%iZ");
}

std::string Now() {
    return Format(Poco::Timestamp());
}

// A hash of a password nobody has, tried for names that have no account, so that an unknown name
// costs as much as a wrong password and does not show in the answer's time.
const std::string& Decoy() {
    static const std::string decoy = [] {
        char hash[crypto_pwhash_STRBYTES];
        const char password[] = "no account has this password";
        if (crypto_pwhash_str(hash, password, sizeof password - 1, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
            throw std::runtime_error("cannot hash a password: out of memory");
        }
        return std::string(hash);
    }();
    return decoy;
}

}  // namespace

CConsoleAccounts::CConsoleAccounts(CServerDatabase& database) : m_database(database) {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
}

std::string CConsoleAccounts::RoleNamed(const std::string& given) {
    static const std::map<std::string, std::string> roles = {{"help desk", kHelpDesk},
                                                             {"helpdesk", kHelpDesk},
                                                             {"help-desk", kHelpDesk},
                                                             {"administrator", kAdministrator}};
    const auto found = roles.find(given);
    if (found == roles.end()) {
        throw std::invalid_argument("a role is \"help desk\" or \"administrator\", not '" + given + "'");
    }
    return found->second;
}

void CConsoleAccounts::CheckName(const std::string& name) {
    if (name.empty() || name.size() > kMaxName ||
        name.find_first_not_of(kNameCharacters) != std::string::npos) {
        throw std::invalid_argument("an account name is 1 to " + std::to_string(kMaxName) +
                                    " letters, digits, '.', '_', '@' or '-'");
    }
}

void CConsoleAccounts::Add(const std::string& name, const std::string& role, const std::string& password) {
    CheckName(name);
    const std::string canonical = RoleNamed(role);
    if (password.size() < kMinPassword || password.size() > kMaxPassword) {
        throw std::invalid_argument("a password has " + std::to_string(kMinPassword) + " to " +
                                    std::to_string(kMaxPassword) + " characters");
    }
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        throw std::runtime_error("cannot hash the password: out of memory");
    }
    std::string stored(hash);
    m_database.InTransaction([&](Session& session) {
        Account existing;
        if (Find(name, existing)) {
            throw std::invalid_argument("an account " + name + " exists already");
        }
        std::string created = Now();
        std::string account = name;
        std::string accountRole = canonical;
        session << m_database.Placeholders(
            "INSERT INTO console_accounts (name, role, password_hash, created_at) VALUES (?, ?, ?, ?)"),
            use(account), use(accountRole), use(stored), use(created), now;
    });
}

CConsoleAccounts::Result CConsoleAccounts::SignIn(const std::string& name, const std::string& password) {
    Result result;
    Account account;
    const bool known = password.size() <= kMaxPassword && Find(name, account);
    if (!known) {
        Verify(Decoy(), password.substr(0, kMaxPassword));
        return result;
    }
    if (!account.lockedUntil.empty() && account.lockedUntil > Now()) {
        result.outcome = Outcome::Locked;
        return result;
    }
    if (!Verify(account.hash, password)) {
        RecordFailure(name, account);
        result.outcome = account.failures + 1 >= kMaxFailures ? Outcome::Locked : Outcome::Refused;
        return result;
    }
    SignedIn(name);
    result.outcome = Outcome::Accepted;
    result.role = account.role;
    return result;
}

bool CConsoleAccounts::Verify(const std::string& hash, const std::string& password) {
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool CConsoleAccounts::Find(const std::string& name, Account& account) {
    bool found = false;
    m_database.Use([&](Session& session) {
        Poco::Data::Statement select(session);
        std::string key = name;
        select << m_database.Placeholders(
            "SELECT role, password_hash, failures, locked_until FROM console_accounts WHERE name = ?"),
            use(key);
        select.execute();
        Poco::Data::RecordSet set(select);
        if (set.moveFirst()) {
            account.role = set["role"].convert<std::string>();
            account.hash = set["password_hash"].convert<std::string>();
            account.failures = set["failures"].convert<int>();
            account.lockedUntil = set["locked_until"].convert<std::string>();
            found = true;
        }
    });
    return found;
}

// The count restarts with each lockout, so that the account opens again for kMaxFailures more tries
// once the lockout has passed.
void CConsoleAccounts::RecordFailure(const std::string& name, const Account& account) {
    int failures = account.failures + 1;
    std::string lockedUntil;
    if (failures >= kMaxFailures) {
        failures = 0;
        lockedUntil = Format(Poco::Timestamp() + Poco::Timespan(0, 0, kLockoutMinutes, 0, 0));
    }
    m_database.Use([&](Session& session) {
        std::string key = name;
        session << m_database.Placeholders(
            "UPDATE console_accounts SET failures = ?, locked_until = ? WHERE name = ?"),
            use(failures), use(lockedUntil), use(key), now;
    });
}

void CConsoleAccounts::SignedIn(const std::string& name) {
    m_database.Use([&](Session& session) {
        std::string key = name;
        std::string time = Now();
        session << m_database.Placeholders(
            "UPDATE console_accounts SET failures = 0, locked_until = '', last_sign_in = ? WHERE name = ?"),
            use(time), use(key), now;
    });
}

std::vector<CConsoleAccounts::Listed> CConsoleAccounts::List() {
    std::vector<std::string> names, roles, lockedUntil, lastSignIn;
    m_database.Use([&](Session& session) {
        session << "SELECT name, role, locked_until, last_sign_in FROM console_accounts ORDER BY name",
            into(names), into(roles), into(lockedUntil), into(lastSignIn), now;
    });
    const std::string time = Now();
    std::vector<Listed> accounts(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        accounts[i] =
            Listed{names[i], roles[i], !lockedUntil[i].empty() && lockedUntil[i] > time, lastSignIn[i]};
    }
    return accounts;
}

// PostgreSQL holds the administrators' rows until the transaction ends, so that two servers cannot
// each take away one of the last two; SQLite's writers take turns already.
void CConsoleAccounts::KeepAnAdministrator(Session& session, const std::string& name) {
    std::vector<std::string> administrators;
    std::string role = kAdministrator;
    const std::string lock = m_database.Kind() == CServerDatabase::Engine::PostgreSQL ? " FOR UPDATE" : "";
    session << m_database.Placeholders("SELECT name FROM console_accounts WHERE role = ?" + lock), use(role),
        into(administrators), now;
    if (administrators.size() == 1 && administrators.front() == name) {
        throw std::invalid_argument(name + " is the last administrator; make another one first");
    }
}

// The statement's last placeholder is the account's name; value, when given, fills the one before.
void CConsoleAccounts::Change(const std::string& sql, const std::string& name, const std::string* value) {
    m_database.InTransaction([&](Session& session) {
        Account account;
        if (!Find(name, account)) {
            throw std::invalid_argument("there is no account " + name);
        }
        std::string key = name;
        Poco::Data::Statement change(session);
        change << m_database.Placeholders(sql);
        std::string first = value ? *value : std::string();
        if (value) {
            change, use(first);
        }
        change, use(key);
        change.execute();
    });
}

void CConsoleAccounts::SetRole(const std::string& name, const std::string& role) {
    const std::string canonical = RoleNamed(role);
    m_database.InTransaction([&](Session& session) {
        if (canonical != kAdministrator) {
            KeepAnAdministrator(session, name);
        }
        Change("UPDATE console_accounts SET role = ? WHERE name = ?", name, &canonical);
    });
}

void CConsoleAccounts::Unlock(const std::string& name) {
    Change("UPDATE console_accounts SET failures = 0, locked_until = '' WHERE name = ?", name, nullptr);
}

void CConsoleAccounts::Remove(const std::string& name) {
    m_database.InTransaction([&](Session& session) {
        KeepAnAdministrator(session, name);
        Change("DELETE FROM console_accounts WHERE name = ?", name, nullptr);
    });
}

}  // namespace Server
}  // namespace Zun
