#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/server/CConsoleTestBed.h"
#include "tools/browser/CHeadlessChromium.h"

namespace Zun {
namespace Testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Tools::CHeadlessChromium;

// The console in a real browser: its cookies (Secure, SameSite, HttpOnly) kept and sent by Chromium,
// its forms filled and sent as a person would, its pages read as shown.
class ConsoleBrowserTest : public ::testing::Test {
protected:
    std::string Url(const std::string& path) {
        return "https://localhost:" + std::to_string(m_bed.Port()) + path;
    }

    void SignIn(const std::string& user, const std::string& password) {
        m_browser.Navigate(Url("/login"));
        m_browser.Submit(CHeadlessChromium::Fill("/login", "user", user) +
                         CHeadlessChromium::Fill("/login", "password", password) +
                         CHeadlessChromium::Send("/login"));
    }

    void Reveal(const std::string& computer, const std::string& reason, const std::string& before = "") {
        m_browser.Navigate(Url("/recovery?q=" + computer));
        m_browser.Submit(before + CHeadlessChromium::Fill("/recovery/reveal", "reason", reason) +
                         CHeadlessChromium::Fill("/recovery/reveal", "password", CConsoleTestBed::kPassword) +
                         CHeadlessChromium::Send("/recovery/reveal"));
    }

    CConsoleTestBed m_bed;
    CHeadlessChromium m_browser;
};

TEST_F(ConsoleBrowserTest, AnAdministratorSeesTheFleetRevealsAKeyAndFindsTheAuditRow) {
    SignIn("alice", CConsoleTestBed::kPassword);
    EXPECT_EQ(m_browser.Path(), "/fleet");
    const std::string fleet = m_browser.Text();
    EXPECT_THAT(fleet, HasSubstr("computers: 3"));
    for (const char* computer : CConsoleTestBed::kComputers) {
        EXPECT_THAT(fleet, HasSubstr(computer));
    }
    EXPECT_EQ(m_browser.Evaluate("document.cookie"), "") << "the session cookie is HTTP-only";

    Reveal("pc-2", "ticket 4711");
    EXPECT_THAT(m_browser.Text(), HasSubstr(CConsoleTestBed::SecretOf("pc-2")));
    EXPECT_THAT(m_browser.Evaluate("location.href"), Not(HasSubstr(CConsoleTestBed::SecretOf("pc-2"))));

    m_browser.Navigate(Url("/audit"));
    const std::string audit = m_browser.Text();
    EXPECT_THAT(audit, HasSubstr("alice (console)"));
    EXPECT_THAT(audit, HasSubstr("ticket 4711"));
}

// The first form on the accounts page adds one; the new account then signs in as a help desk.
TEST_F(ConsoleBrowserTest, AnAdministratorAddsAnAccountThatThenSignsIn) {
    SignIn("alice", CConsoleTestBed::kPassword);
    m_browser.Navigate(Url("/accounts"));
    const std::string newPassword = "a new and long password";
    m_browser.Submit(CHeadlessChromium::Fill("/accounts", "name", "bob") +
                     CHeadlessChromium::Fill("/accounts", "new_password", newPassword) +
                     CHeadlessChromium::Fill("/accounts", "new_password_again", newPassword) +
                     CHeadlessChromium::Fill("/accounts", "password", CConsoleTestBed::kPassword) +
                     CHeadlessChromium::Send("/accounts"));
    EXPECT_THAT(m_browser.Text(), HasSubstr("The account bob: added as help desk.")) << m_bed.Log();
    m_browser.Submit("document.querySelector('form[action=\"/logout\"]').submit();");
    SignIn("bob", newPassword);
    EXPECT_EQ(m_browser.Path(), "/recovery") << m_browser.Text();
}

TEST_F(ConsoleBrowserTest, TheBrowserIsRefusedWhatTheConsoleMustRefuse) {
    SignIn("helen", CConsoleTestBed::kPassword);
    ASSERT_EQ(m_browser.Path(), "/recovery") << m_browser.Text() << m_bed.Log();
    m_browser.Navigate(Url("/fleet"));
    EXPECT_THAT(m_browser.Text(), HasSubstr("This page is for administrators."));

    Reveal("pc-1", "ticket 1",
           "document.querySelector('form[action=\"/recovery/reveal\"] input[name=csrf]').remove(); ");
    EXPECT_THAT(m_browser.Text(), HasSubstr("The form did not come from this console."));
    EXPECT_EQ(m_bed.Database().Count("audit"), 0);

    for (int i = 0; i < Server::CConsoleAccounts::kMaxFailures; ++i) {
        SignIn("alice", "not the password");
    }
    SignIn("alice", CConsoleTestBed::kPassword);
    EXPECT_THAT(m_browser.Text(), HasSubstr("The account is locked"));
    EXPECT_EQ(m_browser.Path(), "/login");
}

}  // namespace
}  // namespace Testing
}  // namespace Zun
