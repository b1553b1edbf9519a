#pragma once

#include <string>
#include <vector>

#include "server/store/CServerDatabase.h"

namespace Zun {
namespace Server {

// The console's local accounts in the server database: a name, a role and an Argon2id hash of the
// password (libsodium's crypto_pwhash_str, which carries its salt and cost). Repeated failed
// sign-ins lock the account for a while; a locked account is refused without its hash being tried.
// The last administrator can be neither removed nor given another role, so that someone is always
// left who may manage the accounts.
class CConsoleAccounts {
public:
    static const char* const kHelpDesk;
    static const char* const kAdministrator;
    static const int kMaxFailures = 5;
    static const int kLockoutMinutes = 15;
    static const std::size_t kMinPassword = 12;
    static const std::size_t kMaxPassword = 1024;

    enum class Outcome { Accepted, Refused, Locked };
    struct Result {
        Outcome outcome = Outcome::Refused;
        std::string role;
    };
    struct Listed {
        std::string name;
        std::string role;
        bool locked = false;
        std::string lastSignIn;  // empty when it never signed in
    };

    explicit CConsoleAccounts(CServerDatabase& database);

    // Throws std::invalid_argument for a bad name, role or password, or a name already taken.
    void Add(const std::string& name, const std::string& role, const std::string& password);
    // Counts a failure against a known account; a success clears the count and is the last sign-in.
    Result SignIn(const std::string& name, const std::string& password);
    // Every account, by name.
    std::vector<Listed> List();
    // Each throws std::invalid_argument for an account that does not exist, a bad role, or a change
    // that would leave no administrator.
    void SetRole(const std::string& name, const std::string& role);
    void Unlock(const std::string& name);
    void Remove(const std::string& name);
    // The role's own spelling for what a command line may give ("help desk", "helpdesk",
    // "help-desk", "administrator"); throws std::invalid_argument for anything else.
    static std::string RoleNamed(const std::string& given);
    static void CheckName(const std::string& name);

private:
    struct Account {
        std::string role;
        std::string hash;
        int failures = 0;
        std::string lockedUntil;
    };

    bool Find(const std::string& name, Account& account);
    void RecordFailure(const std::string& name, const Account& account);
    void SignedIn(const std::string& name);
    // Inside a transaction: refuses to take the administrator role from the name when no other
    // account holds it.
    void KeepAnAdministrator(Poco::Data::Session& session, const std::string& name);
    void Change(const std::string& sql, const std::string& name, const std::string* value);
    static bool Verify(const std::string& hash, const std::string& password);

    CServerDatabase& m_database;
};

}  // namespace Server
}  // namespace Zun
