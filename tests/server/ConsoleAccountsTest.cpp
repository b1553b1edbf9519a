#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "server/console/CConsoleAccounts.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"
#include "tools/ExitCodes.h"

namespace Zun {
namespace Server {
namespace {

using Testing::CTestDatabase;
using ::testing::HasSubstr;
using ::testing::Not;
typedef CConsoleAccounts::Outcome Outcome;

const std::string kPassword = "correct horse battery";

class ConsoleAccountsTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        m_accounts.reset(new CConsoleAccounts(m_database->Database()));
    }

    std::string StoredHash(const std::string& name) {
        std::string hash;
        m_database->Database().Use([&](Poco::Data::Session& session) {
            std::string key = name;
            session << m_database->Database().Placeholders(
                "SELECT password_hash FROM console_accounts WHERE name = ?"),
                Poco::Data::Keywords::use(key), Poco::Data::Keywords::into(hash), Poco::Data::Keywords::now;
        });
        return hash;
    }

    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CConsoleAccounts> m_accounts;
};

TEST_P(ConsoleAccountsTest, AnAccountKeepsOnlyAnArgon2idHash) {
    m_accounts->Add("alice", "helpdesk", kPassword);
    const std::string hash = StoredHash("alice");
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_THAT(hash, Not(HasSubstr(kPassword)));
    const CConsoleAccounts::Result result = m_accounts->SignIn("alice", kPassword);
    EXPECT_EQ(result.outcome, Outcome::Accepted);
    EXPECT_EQ(result.role, CConsoleAccounts::kHelpDesk);
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword + "x").outcome, Outcome::Refused);
    EXPECT_EQ(m_accounts->SignIn("nobody", kPassword).outcome, Outcome::Refused);
}

TEST_P(ConsoleAccountsTest, BadAccountsAreRefusedNamingWhatIsWrong) {
    m_accounts->Add("alice", "administrator", kPassword);
    const struct {
        const char* name;
        const char* role;
        std::string password;
        const char* error;
    } cases[] = {
        {"bob", "root", kPassword, "a role is"},
        {"", "administrator", kPassword, "an account name"},
        {"bob smith", "administrator", kPassword, "an account name"},
        {"bob", "administrator", "short", "a password has"},
        {"bob", "administrator", std::string(CConsoleAccounts::kMaxPassword + 1, 'p'), "a password has"},
        {"alice", "administrator", kPassword, "exists already"},
    };
    for (const auto& bad : cases) {
        try {
            m_accounts->Add(bad.name, bad.role, bad.password);
            ADD_FAILURE() << "accepted " << bad.name << " " << bad.role;
        } catch (const std::invalid_argument& e) {
            EXPECT_THAT(e.what(), HasSubstr(bad.error)) << bad.name;
        }
    }
    EXPECT_EQ(m_database->Count("console_accounts"), 1);
}

// A good sign-in clears the count, so only failures in a row lock; a locked account refuses even
// the right password.
TEST_P(ConsoleAccountsTest, OnlyFailuresInARowLockTheAccount) {
    m_accounts->Add("alice", "administrator", kPassword);
    for (int i = 1; i < CConsoleAccounts::kMaxFailures; ++i) {
        EXPECT_EQ(m_accounts->SignIn("alice", "wrong").outcome, Outcome::Refused);
    }
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword).outcome, Outcome::Accepted);
    for (int i = 1; i < CConsoleAccounts::kMaxFailures; ++i) {
        m_accounts->SignIn("alice", "wrong");
    }
    EXPECT_EQ(m_accounts->SignIn("alice", "wrong").outcome, Outcome::Locked);
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword).outcome, Outcome::Locked);
}

// The last administrator can be neither removed nor demoted; with a second one either can go. The
// list shows roles, locks and sign-ins as they change.
TEST_P(ConsoleAccountsTest, ThereIsAlwaysAnAdministratorLeft) {
    m_accounts->Add("alice", "administrator", kPassword);
    m_accounts->Add("helen", "help desk", kPassword);
    const std::function<void()> refused[] = {
        [&] { m_accounts->Remove("alice"); }, [&] { m_accounts->SetRole("alice", "help desk"); },
        [&] { m_accounts->Remove("nobody"); }, [&] { m_accounts->SetRole("helen", "root"); },
        [&] { m_accounts->Unlock("nobody"); }};
    for (const auto& change : refused) {
        EXPECT_THROW(change(), std::invalid_argument);
    }
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword).role, CConsoleAccounts::kAdministrator);

    m_accounts->SetRole("helen", "administrator");
    m_accounts->SetRole("alice", "help desk");
    EXPECT_THROW(m_accounts->Remove("helen"), std::invalid_argument);
    for (int i = 0; i < CConsoleAccounts::kMaxFailures; ++i) {
        m_accounts->SignIn("alice", "wrong password");
    }
    std::vector<CConsoleAccounts::Listed> listed = m_accounts->List();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].name, "alice");
    EXPECT_EQ(listed[0].role, CConsoleAccounts::kHelpDesk);
    EXPECT_TRUE(listed[0].locked);
    EXPECT_FALSE(listed[0].lastSignIn.empty());
    EXPECT_TRUE(listed[1].lastSignIn.empty());

    m_accounts->Unlock("alice");
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword).outcome, Outcome::Accepted);
    m_accounts->Remove("alice");
    listed = m_accounts->List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "helen");
    EXPECT_EQ(m_accounts->SignIn("alice", kPassword).outcome, Outcome::Refused);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleAccountsTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

struct Ran {
    int code;
    std::string output;
};

// quil-server user add through the shell, the password on standard input.
Ran UserAdd(const std::string& arguments, const std::string& input) {
    const std::string command = "printf '%s\\n' '" + input + "' | " + std::string(QUIL_SERVER_PATH) +
                                " user add " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        output.append(chunk, got);
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(ConsoleUserAddTest, ThePasswordComesFromStandardInputNeverTheCommandLine) {
    CTestDatabase database(CTestDatabase::Engine::SQLite);
    const std::string state =
        " --state " + database.Folder() + "/state --db " + database.Folder() + "/console.db";
    const Ran added = UserAdd("alice --role 'help desk'" + state, kPassword);
    EXPECT_EQ(added.code, Tools::ExitCode::kOk) << added.output;
    EXPECT_THAT(added.output, Not(HasSubstr(kPassword)));

    CServerDatabase written(database.Folder() + "/console.db");
    EXPECT_EQ(CConsoleAccounts(written).SignIn("alice", kPassword).outcome, Outcome::Accepted);

    EXPECT_EQ(UserAdd("bob --role administrator --password " + kPassword + state, kPassword).code,
              Tools::ExitCode::kUsage);
    EXPECT_EQ(UserAdd("bob --role administrator" + state, "").code, Tools::ExitCode::kFailure);
    EXPECT_EQ(UserAdd("bob" + state, kPassword).code, Tools::ExitCode::kUsage);
}

}  // namespace
}  // namespace Server
}  // namespace Zun
