#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "tests/server/CConsoleTestBed.h"

namespace Zun {
namespace Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
typedef CConsoleClient::Reply Reply;

const int kOk = 200;
const int kSeeOther = 303;
const int kBadRequest = 400;
const int kUnauthorized = 401;
const int kForbidden = 403;

class ConsoleTest : public ::testing::Test {
protected:
    CConsoleClient SignedIn(const std::string& user) {
        CConsoleClient client = m_bed.Client();
        const Reply reply = client.SignIn(user, CConsoleTestBed::kPassword);
        EXPECT_EQ(reply.status, kSeeOther) << reply.body;
        return client;
    }

    // The recovery page of the computer, then its reveal form sent with the reason and password.
    Reply Reveal(CConsoleClient& client, const std::string& computer, const std::string& reason,
                 const std::string& password = CConsoleTestBed::kPassword) {
        client.Get("/recovery?q=" + computer);
        return client.Post("/recovery/reveal", {{"csrf", client.Csrf()},
                                                {"computer", computer},
                                                {"device", "disk-0"},
                                                {"reason", reason},
                                                {"password", password}});
    }

    int64_t AuditRows() { return m_bed.Database().Count("audit"); }

    static CConsoleClient::Form AddAccount(const CConsoleClient& client, const std::string& name,
                                           const std::string& role) {
        return {{"csrf", client.Csrf()},
                {"action", "add"},
                {"name", name},
                {"role", role},
                {"new_password", kNewPassword},
                {"new_password_again", kNewPassword},
                {"password", CConsoleTestBed::kPassword}};
    }

    static const char* const kNewPassword;

    CConsoleTestBed m_bed;
};

TEST_F(ConsoleTest, AnAdministratorSeesTheFleetWithItsCounts) {
    CConsoleClient client = SignedIn("alice");
    const Reply fleet = client.Get("/fleet");
    ASSERT_EQ(fleet.status, kOk);
    for (const char* computer : CConsoleTestBed::kComputers) {
        EXPECT_THAT(fleet.body, HasSubstr(">" + std::string(computer) + "</a>"));
    }
    EXPECT_THAT(fleet.body, HasSubstr("computers: <strong>3</strong>"));
    EXPECT_THAT(fleet.body, HasSubstr("escrowed: <strong>3</strong>"));
    EXPECT_THAT(fleet.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-1"))));
}

// The storage status and the soonest licence expiry the agents reported, per computer; the count of
// encrypted computers at the top.
TEST_F(ConsoleTest, TheFleetShowsEncryptionAndLicenceExpiry) {
    CConsoleClient client = SignedIn("alice");
    const Reply fleet = client.Get("/fleet");
    const struct {
        const char* computer;
        std::string encryption;
        std::string expiry;
    } expected[] = {{"pc-1", "in order, level 1", CConsoleTestBed::LicenceExpiryOf("pc-1")},
                    {"pc-2", "in order, level 1", CConsoleTestBed::LicenceExpiryOf("pc-2")},
                    {"pc-3", "unknown", ""}};
    for (const auto& row : expected) {
        const std::size_t at = fleet.body.find(">" + std::string(row.computer) + "</a>");
        ASSERT_NE(at, std::string::npos) << row.computer;
        const std::string cells = fleet.body.substr(at, fleet.body.find("</tr>", at) - at);
        EXPECT_THAT(cells, HasSubstr("<td>" + row.encryption + "</td>")) << row.computer;
        EXPECT_EQ(cells.substr(cells.rfind("<td>")), "<td>" + row.expiry + "</td>") << row.computer;
    }
    EXPECT_THAT(fleet.body, Not(HasSubstr("2031-01-01"))) << "the later licence is not the soonest";
    EXPECT_THAT(fleet.body, HasSubstr("encrypted: <strong>2</strong>"));
    // Descending, ties broken by the name, descending too.
    const std::pair<std::string, std::vector<std::string>> sorts[] = {
        {"encryption", {"pc-3", "pc-2", "pc-1"}}, {"licence", {"pc-2", "pc-1", "pc-3"}}};
    for (const auto& sort : sorts) {
        const Reply sorted = client.Get("/fleet?sort=" + sort.first + "&order=desc");
        EXPECT_LT(sorted.body.find(">" + sort.second[0] + "</a>"),
                  sorted.body.find(">" + sort.second[1] + "</a>"))
            << sort.first;
        EXPECT_LT(sorted.body.find(">" + sort.second[1] + "</a>"),
                  sorted.body.find(">" + sort.second[2] + "</a>"))
            << sort.first;
        EXPECT_THAT(sorted.body, HasSubstr("aria-sort=\"descending\"")) << sort.first;
    }
}

TEST_F(ConsoleTest, TheFleetIsFilteredAndSortedByItsQuery) {
    CConsoleClient client = SignedIn("alice");
    const Reply descending = client.Get("/fleet?sort=name&order=desc");
    EXPECT_LT(descending.body.find(">pc-3</a>"), descending.body.find(">pc-1</a>"));
    const Reply filtered = client.Get("/fleet?q=pc-2");
    EXPECT_THAT(filtered.body, HasSubstr(">pc-2</a>"));
    EXPECT_THAT(filtered.body, Not(HasSubstr(">pc-1</a>")));
    const Reply none = client.Get("/fleet?escrow=" + std::string("confirmed%20by%20the%20product"));
    EXPECT_THAT(none.body, HasSubstr("0 matching"));
}

TEST_F(ConsoleTest, WithoutASessionPagesSendToTheSignIn) {
    CConsoleClient client = m_bed.Client();
    for (const char* path : {"/", "/fleet", "/recovery", "/audit", "/tasks"}) {
        const Reply reply = client.Get(path);
        EXPECT_EQ(reply.status, kSeeOther) << path;
        EXPECT_EQ(CConsoleClient::Header(reply, "Location"), "/login") << path;
    }
}

TEST_F(ConsoleTest, AHelpDeskIsRefusedTheAdministratorsPages) {
    CConsoleClient client = SignedIn("helen");
    for (const char* path : {"/fleet", "/computer?name=pc-1", "/audit", "/tasks", "/accounts"}) {
        EXPECT_EQ(client.Get(path).status, kForbidden) << path;
    }
    EXPECT_EQ(client.Post("/accounts", AddAccount(client, "mallory", "administrator")).status, kForbidden);
    EXPECT_EQ(client
                  .Post("/accounts", {{"csrf", client.Csrf()},
                                      {"action", "role"},
                                      {"name", "helen"},
                                      {"role", "administrator"},
                                      {"password", CConsoleTestBed::kPassword}})
                  .status,
              kForbidden);
    EXPECT_EQ(m_bed.Client().SignIn("mallory", CConsoleTestBed::kPassword).status, kUnauthorized);
    EXPECT_EQ(SignedIn("helen").Get("/accounts").status, kForbidden) << "still a help desk";
    EXPECT_EQ(client.Post("/tasks", {{"csrf", client.Csrf()}, {"all", "1"}, {"line", "{\"task\":\"query\"}"}})
                  .status,
              kForbidden);
    EXPECT_EQ(m_bed.Database().Count("tasks"), 3) << "only the recovery responses";
    EXPECT_EQ(client.Get("/recovery?q=pc-1").status, kOk);
}

// Each form of a signed-in page, sent without its token or with another session's.
TEST_F(ConsoleTest, AFormWithoutItsCsrfTokenChangesNothing) {
    CConsoleClient client = SignedIn("alice");
    CConsoleClient other = SignedIn("alice");
    const CConsoleClient::Form forms[] = {
        {{"all", "1"}, {"line", "{\"task\":\"query\",\"kind\":1}"}},
        {{"computer", "pc-1"},
         {"device", "disk-0"},
         {"reason", "r"},
         {"password", CConsoleTestBed::kPassword}},
        {},
        {{"action", "remove"}, {"name", "helen"}, {"password", CConsoleTestBed::kPassword}}};
    const char* const paths[] = {"/tasks", "/recovery/reveal", "/logout", "/accounts"};
    for (const std::string& token : {std::string(), other.Csrf()}) {
        for (std::size_t i = 0; i < 4; ++i) {
            CConsoleClient::Form form = forms[i];
            if (!token.empty()) {
                form.push_back({"csrf", token});
            }
            const Reply reply = client.Post(paths[i], form);
            EXPECT_EQ(reply.status, kForbidden) << paths[i];
            EXPECT_THAT(reply.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-1"))));
        }
    }
    EXPECT_EQ(m_bed.Database().Count("tasks"), 3);
    EXPECT_EQ(AuditRows(), 0);
    EXPECT_EQ(m_bed.Database().Count("console_accounts"), 2);
    EXPECT_EQ(client.Get("/fleet").status, kOk) << "still signed in";
}

TEST_F(ConsoleTest, WrongPasswordsLockTheAccount) {
    CConsoleClient client = m_bed.Client();
    EXPECT_EQ(client.SignIn("alice", "wrong password 0").status, kUnauthorized);
    for (int i = 1; i < Server::CConsoleAccounts::kMaxFailures; ++i) {
        client.SignIn("alice", "wrong password " + std::to_string(i));
    }
    const Reply locked = client.SignIn("alice", CConsoleTestBed::kPassword);
    EXPECT_EQ(locked.status, kForbidden);
    EXPECT_THAT(locked.body, HasSubstr("locked"));
    EXPECT_EQ(client.Get("/fleet").status, kSeeOther);
    EXPECT_EQ(m_bed.Client().SignIn("helen", CConsoleTestBed::kPassword).status, kSeeOther)
        << "others are not";
    EXPECT_THAT(m_bed.Log(), Not(HasSubstr("wrong password")));
}

TEST_F(ConsoleTest, TheSignInFormNeedsItsOwnToken) {
    CConsoleClient client = m_bed.Client();
    const Reply reply =
        client.Post("/login", {{"user", "alice"}, {"password", CConsoleTestBed::kPassword}, {"csrf", "00"}});
    EXPECT_EQ(reply.status, kForbidden);
    EXPECT_EQ(client.Get("/fleet").status, kSeeOther);
}

TEST_F(ConsoleTest, ARevealIsAuditedThenShownOnceAndNeverKept) {
    CConsoleClient client = SignedIn("helen");
    const Reply reply = Reveal(client, "pc-2", "ticket 4711: <script>alert(1)</script>");
    ASSERT_EQ(reply.status, kOk) << reply.body;
    EXPECT_THAT(reply.body, HasSubstr(CConsoleTestBed::SecretOf("pc-2")));
    EXPECT_EQ(CConsoleClient::Header(reply, "Cache-Control"), "no-store");
    EXPECT_EQ(AuditRows(), 1);

    CConsoleClient administrator = SignedIn("alice");
    const Reply audit = administrator.Get("/audit");
    EXPECT_THAT(audit.body, HasSubstr("helen (console)"));
    EXPECT_THAT(audit.body, HasSubstr("ticket 4711: &lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_THAT(audit.body, Not(HasSubstr("<script>")));
    EXPECT_THAT(audit.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-2"))));
    EXPECT_THAT(m_bed.Log(), Not(HasSubstr(CConsoleTestBed::SecretOf("pc-2"))));
    EXPECT_THAT(m_bed.Log(), Not(HasSubstr(CConsoleTestBed::kPassword)));
}

TEST_F(ConsoleTest, NothingIsRevealedWhenTheAuditRowCannotBeWritten) {
    m_bed.Database().RefuseInserts("audit");
    CConsoleClient client = SignedIn("alice");
    const Reply reply = Reveal(client, "pc-1", "ticket 1");
    EXPECT_NE(reply.status, kOk);
    EXPECT_THAT(reply.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-1"))));
    m_bed.Database().AllowInserts("audit");
    EXPECT_THAT(Reveal(client, "pc-1", "ticket 1").body, HasSubstr(CConsoleTestBed::SecretOf("pc-1")));
}

// Re-authentication and a reason: without either, no audit row and no secret.
TEST_F(ConsoleTest, ARevealNeedsThePasswordAgainAndAReason) {
    CConsoleClient client = SignedIn("helen");
    const struct {
        const char* reason;
        const char* password;
    } refused[] = {{"ticket 2", "not the password"}, {"  ", CConsoleTestBed::kPassword}, {"ticket 3", ""}};
    for (const auto& attempt : refused) {
        const Reply reply = Reveal(client, "pc-3", attempt.reason, attempt.password);
        EXPECT_EQ(reply.status, kBadRequest) << attempt.reason;
        EXPECT_THAT(reply.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-3"))));
    }
    EXPECT_EQ(AuditRows(), 0);
}

TEST_F(ConsoleTest, TheRecoveryPageFindsAComputerByItsKeyId) {
    CConsoleClient client = SignedIn("helen");
    for (const std::string& query :
         {std::string("5e1f0000-0000-0000-0000-000000000002"),
          std::string("{5E1F0000-0000-0000-0000-000000000002}"), std::string("pc-2")}) {
        const Reply reply = client.Get("/recovery?q=" + query);
        EXPECT_THAT(reply.body, HasSubstr("<h2>pc-2</h2>")) << query;
        EXPECT_THAT(reply.body, Not(HasSubstr("<h2>pc-1</h2>"))) << query;
        EXPECT_THAT(reply.body, Not(HasSubstr(CConsoleTestBed::SecretOf("pc-2")))) << query;
    }
}

TEST_F(ConsoleTest, ATaskGoesToEveryComputerThroughTheAdministratorsCommand) {
    CConsoleClient client = SignedIn("alice");
    client.Get("/tasks");
    const Reply sent = client.Post(
        "/tasks", {{"csrf", client.Csrf()}, {"all", "1"}, {"line", "{\"task\":\"query\",\"kind\":1}"}});
    EXPECT_EQ(sent.status, kOk);
    EXPECT_THAT(sent.body, HasSubstr("Queued for 3 computer(s)."));
    EXPECT_EQ(m_bed.Database().Count("tasks"), 6);
    const Reply refused = client.Post(
        "/tasks",
        {{"csrf", client.Csrf()}, {"computer", "pc-1"}, {"line", "{\"task\":\"recovery-response\"}"}});
    EXPECT_EQ(refused.status, kBadRequest);
    EXPECT_EQ(m_bed.Database().Count("tasks"), 6);
}

TEST_F(ConsoleTest, EveryAnswerCarriesTheSecurityHeadersAndSafeCookies) {
    CConsoleClient client = m_bed.Client();
    const Reply login = client.Get("/login");
    ASSERT_EQ(login.setCookies.size(), 1u);
    for (const char* attribute : {"HttpOnly", "secure", "SameSite=Strict"}) {
        EXPECT_THAT(login.setCookies[0], HasSubstr(attribute));
    }
    client.SignIn("alice", CConsoleTestBed::kPassword);
    for (const char* path :
         {"/fleet", "/computer?name=pc-1", "/recovery", "/audit", "/tasks", "/accounts", "/nowhere"}) {
        const Reply reply = client.Get(path);
        const std::string& policy = CConsoleClient::Header(reply, "Content-Security-Policy");
        EXPECT_THAT(policy, HasSubstr("frame-ancestors 'none'")) << path;
        EXPECT_THAT(policy, Not(HasSubstr("unsafe-inline"))) << path;
        EXPECT_EQ(CConsoleClient::Header(reply, "X-Content-Type-Options"), "nosniff") << path;
        EXPECT_EQ(CConsoleClient::Header(reply, "Referrer-Policy"), "no-referrer") << path;
        EXPECT_EQ(CConsoleClient::Header(reply, "Cache-Control"), "no-store") << path;
        EXPECT_THAT(reply.body, Not(HasSubstr("<script"))) << path;
    }
}

const char* const ConsoleTest::kNewPassword = "a new and long password";

// Each change asks for the administrator's password and writes an audit row with the change; a
// refused one changes nothing and writes none.
TEST_F(ConsoleTest, AnAdministratorManagesTheAccounts) {
    CConsoleClient client = SignedIn("alice");
    client.Get("/accounts");
    const auto with = [&](CConsoleClient::Form form, const std::string& key, const std::string& value) {
        for (auto& field : form) {
            field.second = field.first == key ? value : field.second;
        }
        return form;
    };
    const CConsoleClient::Form add = AddAccount(client, "bob", "help desk");
    const CConsoleClient::Form change = {{"csrf", client.Csrf()},
                                         {"action", "role"},
                                         {"name", "alice"},
                                         {"role", "help desk"},
                                         {"password", CConsoleTestBed::kPassword}};
    const struct {
        const char* what;
        CConsoleClient::Form form;
        int status;
        const char* shown;
    } steps[] = {
        {"passwords differ", with(add, "new_password_again", "another long password"), kBadRequest,
         "the two passwords differ"},
        {"short password", with(with(add, "new_password", "short"), "new_password_again", "short"),
         kBadRequest, "a password has"},
        {"own password wrong", with(add, "password", "not my password"), kBadRequest,
         "Your password was not accepted"},
        {"bad name", with(add, "name", "<b>"), kBadRequest, "an account name is"},
        {"last administrator demoted", change, kBadRequest, "alice is the last administrator"},
        {"last administrator removed", with(change, "action", "remove"), kBadRequest,
         "alice is the last administrator"},
        {"no such change", with(change, "action", "rename"), kBadRequest, "there is no change"},
        {"added", add, kOk, "The account bob: added as help desk."},
        {"taken", add, kBadRequest, "an account bob exists already"},
        {"promoted", with(with(change, "name", "bob"), "role", "administrator"), kOk,
         "The account bob: given the role administrator."},
        {"unlocked", with(with(change, "name", "helen"), "action", "unlock"), kOk,
         "The account helen: unlocked."},
        {"removed", with(with(change, "name", "helen"), "action", "remove"), kOk,
         "The account helen: removed."},
    };
    int64_t audited = 0;
    for (const auto& step : steps) {
        const Reply reply = client.Post("/accounts", step.form);
        EXPECT_EQ(reply.status, step.status) << step.what << ": " << reply.body;
        EXPECT_THAT(reply.body, HasSubstr(step.shown)) << step.what;
        audited += step.status == kOk ? 1 : 0;
        EXPECT_EQ(AuditRows(), audited) << step.what;
    }
    const Reply accounts = client.Get("/accounts");
    EXPECT_THAT(accounts.body, HasSubstr("<td>bob</td><td>administrator</td><td>no</td><td>never</td>"));
    EXPECT_THAT(accounts.body, Not(HasSubstr("<td>helen</td>")));
    EXPECT_EQ(m_bed.Client().SignIn("bob", kNewPassword).status, kSeeOther);
    EXPECT_THAT(client.Get("/audit").body,
                HasSubstr("<td>account</td><td></td><td>helen</td><td>removed</td>"));
    EXPECT_THAT(m_bed.Log(), Not(HasSubstr(kNewPassword)));
    EXPECT_THAT(m_bed.Log(), Not(HasSubstr(CConsoleTestBed::kPassword)));
}

// A demoted account loses its administrator's session at once: it signs in again as what it now is.
TEST_F(ConsoleTest, ARoleChangeEndsTheAccountsSessions) {
    CConsoleClient alice = SignedIn("alice");
    alice.Get("/accounts");
    ASSERT_EQ(alice.Post("/accounts", AddAccount(alice, "bob", "administrator")).status, kOk);
    CConsoleClient bob = m_bed.Client();
    ASSERT_EQ(bob.SignIn("bob", kNewPassword).status, kSeeOther);
    ASSERT_EQ(bob.Get("/accounts").status, kOk);
    ASSERT_EQ(alice
                  .Post("/accounts", {{"csrf", alice.Csrf()},
                                      {"action", "role"},
                                      {"name", "bob"},
                                      {"role", "help desk"},
                                      {"password", CConsoleTestBed::kPassword}})
                  .status,
              kOk);
    EXPECT_EQ(bob.Get("/accounts").status, kSeeOther) << "signed out";
    ASSERT_EQ(bob.SignIn("bob", kNewPassword).status, kSeeOther);
    EXPECT_EQ(bob.Get("/accounts").status, kForbidden);
}

TEST_F(ConsoleTest, SigningOutEndsTheSession) {
    CConsoleClient client = SignedIn("alice");
    client.Get("/fleet");
    EXPECT_EQ(client.Post("/logout", {{"csrf", client.Csrf()}}).status, kSeeOther);
    EXPECT_EQ(client.Get("/fleet").status, kSeeOther);
}

}  // namespace
}  // namespace Testing
}  // namespace Zun
