#include "server/console/CConsoleRouter.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPCookie.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>
#include <Poco/URI.h>
#include <sstream>

#include "server/console/CAccountsPage.h"
#include "server/console/CAuditPage.h"
#include "server/console/CComputerPage.h"
#include "server/console/CFleetPage.h"
#include "server/console/CHtml.h"
#include "server/console/CLoginPage.h"
#include "server/console/CRecoveryFinder.h"
#include "server/console/CRecoveryPage.h"
#include "server/console/CTasksPage.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

using Poco::Net::HTTPResponse;
typedef HTTPResponse::HTTPStatus Status;

const char* const CConsoleRouter::kSessionCookie = "quil_session";
const char* const CConsoleRouter::kLoginCookie = "quil_login";

namespace {

const int kInfo = 1;
const int kWarn = 2;
const int kError = 3;
const int kMaxFields = 20;
const int kMaxValue = 4096;
const int kHistoryRows = 100;
// No script, no inline style, nothing from elsewhere, no framing: the pages are plain documents.
const char* const kPolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; frame-ancestors 'none'; "
    "base-uri 'none'";
const char* const kHtml = "text/html; charset=utf-8";
const char* const kConsolePeer = " (console)";
// The audit's action for a change to the console's accounts (a reveal's is the service's own).
const char* const kAccountAction = "account";

std::string DayAgo() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp() - Poco::Timespan(1, 0, 0, 0, 0),
                                           "%Y-%m-%dT%H:%M:%S.%iZ");
}

// An account name as it may appear in a log line: what an attacker typed there is not repeated.
std::string LoggedName(const std::string& name) {
    try {
        CConsoleAccounts::CheckName(name);
        return name;
    } catch (const std::invalid_argument&) {
        return "(an invalid name)";
    }
}

}  // namespace

CConsoleRouter::CConsoleRouter(CConsoleAccounts& accounts, CFleetStore& store, CFleetService& service,
                               CAdminCommands& commands, Log log)
    : m_accounts(accounts),
      m_store(store),
      m_service(service),
      m_commands(commands),
      m_view(store),
      m_log(log) {}

void CConsoleRouter::Serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) {
    Exchange exchange{request, response, Poco::Net::HTMLForm(), "", false, {}, ""};
    try {
        exchange.path = Poco::URI(request.getURI()).getPath();
        exchange.post = request.getMethod() == Poco::Net::HTTPRequest::HTTP_POST;
        if (!exchange.post && request.getMethod() != Poco::Net::HTTPRequest::HTTP_GET) {
            return Refuse(exchange, HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "Only GET and POST are served.");
        }
        if (ReadForm(exchange)) {
            Route(exchange);
        }
    } catch (const std::exception& e) {
        m_log(kError,
              std::string("Console: ") + request.getMethod() + " " + exchange.path + " failed: " + e.what());
        if (!response.sent()) {
            Refuse(exchange, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR,
                   "The request failed; the log says why.");
        }
    }
}

// Bodies are small forms: anything larger or of another kind is refused before it is read.
bool CConsoleRouter::ReadForm(Exchange& exchange) {
    exchange.form.setFieldLimit(kMaxFields);
    exchange.form.setValueLengthLimit(kMaxValue);
    if (!exchange.post) {
        exchange.form.load(exchange.request);
        return true;
    }
    const std::string type = exchange.request.getContentType();
    if (type.rfind(Poco::Net::HTMLForm::ENCODING_URL, 0) != 0) {
        Refuse(exchange, HTTPResponse::HTTP_UNSUPPORTED_MEDIA_TYPE, "Forms are sent URL-encoded.");
        return false;
    }
    if (!exchange.request.hasContentLength() || exchange.request.getContentLength() > kMaxBody) {
        Refuse(exchange, HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE,
               "The form is too large or has no length.");
        return false;
    }
    exchange.form.load(exchange.request, exchange.request.stream());
    return true;
}

void CConsoleRouter::Route(Exchange& exchange) {
    if (exchange.path == "/console.css" && !exchange.post) {
        std::string css = CPageLayout::StyleSheet();
        exchange.response.set("Cache-Control", "max-age=3600");
        return Send(exchange.response, HTTPResponse::HTTP_OK, "text/css; charset=utf-8", css);
    }
    if (exchange.path == "/favicon.ico") {
        return Refuse(exchange, HTTPResponse::HTTP_NOT_FOUND, "There is no icon.");
    }
    if (exchange.path == "/login") {
        return exchange.post ? Login(exchange) : LoginPage(exchange, HTTPResponse::HTTP_OK, "");
    }
    if (!SignedIn(exchange)) {
        return exchange.post ? Refuse(exchange, HTTPResponse::HTTP_FORBIDDEN, "Sign in first.")
                             : Redirect(exchange, "/login");
    }
    if (exchange.post && !CConsoleSessions::SameToken(exchange.form.get("csrf", ""), exchange.session.csrf)) {
        m_log(kWarn, "Console: a form of " + exchange.session.user + " without its CSRF token was refused");
        return Refuse(exchange, HTTPResponse::HTTP_FORBIDDEN, "The form did not come from this console.");
    }
    RouteSignedIn(exchange);
}

bool CConsoleRouter::SignedIn(Exchange& exchange) {
    exchange.token = Cookie(exchange.request, kSessionCookie);
    return !exchange.token.empty() && m_sessions.Find(exchange.token, exchange.session);
}

// Help desks find and reveal; administrators see everything.
void CConsoleRouter::RouteSignedIn(Exchange& exchange) {
    const std::string& path = exchange.path;
    const bool administrator = exchange.session.role == CConsoleAccounts::kAdministrator;
    if (path == "/logout" && exchange.post) {
        return Logout(exchange);
    }
    if (path == "/") {
        return Redirect(exchange, administrator ? "/fleet" : "/recovery");
    }
    if (path == "/recovery" && !exchange.post) {
        return Recovery(exchange, exchange.form.get("q", ""), "");
    }
    if (path == "/recovery/reveal" && exchange.post) {
        return Reveal(exchange);
    }
    const bool adminPage = path == "/fleet" || path == "/computer" || path == "/audit" || path == "/tasks" ||
                           path == "/accounts";
    if (adminPage && !administrator) {
        m_log(kWarn, "Console: " + exchange.session.user + " (help desk) was refused " + path);
        return Refuse(exchange, HTTPResponse::HTTP_FORBIDDEN, "This page is for administrators.");
    }
    if (path == "/tasks") {
        return exchange.post ? SendTask(exchange) : Tasks(exchange, "", false);
    }
    if (path == "/accounts") {
        return exchange.post ? ChangeAccount(exchange) : Accounts(exchange, "", false);
    }
    if (exchange.post) {
        return Refuse(exchange, HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "This page takes no form.");
    }
    if (path == "/fleet") {
        return Fleet(exchange);
    }
    if (path == "/computer") {
        return Computer(exchange);
    }
    if (path == "/audit") {
        return Audit(exchange);
    }
    Refuse(exchange, HTTPResponse::HTTP_NOT_FOUND, "There is no such page.");
}

CPageLayout::Viewer CConsoleRouter::Viewer(const Exchange& exchange) const {
    return {exchange.session.user, exchange.session.role, exchange.session.csrf};
}

// The form token stays the browser's own while its cookie lives, so that a second sign-in page (another
// tab, a request the browser makes by itself) does not spoil the form of the first.
void CConsoleRouter::LoginPage(Exchange& exchange, Status status, const std::string& error) {
    std::string formToken = Cookie(exchange.request, kLoginCookie);
    if (!CConsoleSessions::IsToken(formToken)) {
        formToken = CConsoleSessions::NewToken();
    }
    SetCookie(exchange.response, kLoginCookie, formToken, false);
    std::string html = CLoginPage::Render(error, formToken);
    Send(exchange.response, status, kHtml, html);
}

void CConsoleRouter::Login(Exchange& exchange) {
    if (!CConsoleSessions::SameToken(exchange.form.get("csrf", ""), Cookie(exchange.request, kLoginCookie))) {
        return LoginPage(exchange, HTTPResponse::HTTP_FORBIDDEN,
                         "The sign-in form was out of date; try again.");
    }
    const std::string user = exchange.form.get("user", "");
    std::string password = exchange.form.get("password", "");
    const CConsoleAccounts::Result result = m_accounts.SignIn(user, password);
    Tools::Agent::CSecretWiper::Wipe(password);
    if (result.outcome == CConsoleAccounts::Outcome::Locked) {
        m_log(kWarn, "Console: " + LoggedName(user) + " is locked after repeated failed sign-ins");
        return LoginPage(exchange, HTTPResponse::HTTP_FORBIDDEN,
                         "The account is locked after repeated failures; try again later.");
    }
    if (result.outcome == CConsoleAccounts::Outcome::Refused) {
        m_log(kWarn, "Console: sign-in refused for " + LoggedName(user));
        return LoginPage(exchange, HTTPResponse::HTTP_UNAUTHORIZED, "The account name or password is wrong.");
    }
    const CConsoleSessions::Opened opened = m_sessions.Open(user, result.role);
    m_log(kInfo, "Console: " + user + " (" + result.role + ") signed in");
    SetCookie(exchange.response, kSessionCookie, opened.token, false);
    SetCookie(exchange.response, kLoginCookie, "", true);
    Redirect(exchange, "/");
}

void CConsoleRouter::Logout(Exchange& exchange) {
    m_sessions.Close(exchange.token);
    m_log(kInfo, "Console: " + exchange.session.user + " signed out");
    SetCookie(exchange.response, kSessionCookie, "", true);
    Redirect(exchange, "/login");
}

void CConsoleRouter::Fleet(Exchange& exchange) {
    const CFleetPage::Query query = CFleetPage::Parse(exchange.form);
    Page(exchange, HTTPResponse::HTTP_OK, "Fleet",
         CFleetPage::Render(CFleetPage::Rows(m_view.Summaries()), query, DayAgo()));
}

void CConsoleRouter::Computer(Exchange& exchange) {
    const std::string name = exchange.form.get("name", "");
    Poco::JSON::Object::Ptr host;
    try {
        host = m_view.Host(name);
    } catch (const std::invalid_argument&) {
        return Refuse(exchange, HTTPResponse::HTTP_NOT_FOUND, "No computer of that name has connected.");
    }
    Page(exchange, HTTPResponse::HTTP_OK, "Computer " + name,
         CComputerPage::Render(host, m_view.Timeline(name, kHistoryRows)));
}

void CConsoleRouter::Recovery(Exchange& exchange, const std::string& query, const std::string& error) {
    Page(exchange, error.empty() ? HTTPResponse::HTTP_OK : HTTPResponse::HTTP_BAD_REQUEST, "Recovery",
         CRecoveryPage::Search(query, CRecoveryFinder(m_store).Find(query), exchange.session.csrf, error));
}

// The account's password again, then the audit row (written by the service before it opens anything),
// then the page, which no cache keeps.
void CConsoleRouter::Reveal(Exchange& exchange) {
    const std::string computer = exchange.form.get("computer", "");
    if (!Reauthenticated(exchange)) {
        m_log(kWarn, "Console: " + exchange.session.user + " gave a wrong password to reveal " + computer);
        return Recovery(exchange, computer, "Your password was not accepted; nothing was revealed.");
    }
    std::vector<CFleetService::Revealed> revealed;
    try {
        revealed =
            m_service.Reveal(computer, exchange.form.get("device", ""),
                             {exchange.session.user + kConsolePeer, -1}, exchange.form.get("reason", ""));
    } catch (const std::invalid_argument& e) {
        return Recovery(exchange, computer, e.what());
    }
    m_log(kInfo, "Console: " + exchange.session.user + " revealed the recovery passwords of " + computer);
    std::string html =
        CPageLayout::Wrap("Recovery password", Viewer(exchange), CRecoveryPage::Revealed(computer, revealed));
    for (CFleetService::Revealed& item : revealed) {
        Tools::Agent::CSecretWiper::Wipe(item.secret);
    }
    exchange.response.set("Pragma", "no-cache");
    Send(exchange.response, HTTPResponse::HTTP_OK, kHtml, html);
}

void CConsoleRouter::Audit(Exchange& exchange) {
    Page(exchange, HTTPResponse::HTTP_OK, "Audit", CAuditPage::Render(m_store.Audit()));
}

void CConsoleRouter::Tasks(Exchange& exchange, const std::string& message, bool refused) {
    Page(exchange, refused ? HTTPResponse::HTTP_BAD_REQUEST : HTTPResponse::HTTP_OK, "Tasks",
         CTasksPage::Render(m_view.Tasks(), exchange.session.csrf, message, refused));
}

// Through the administrator's own command, which checks the line as the agent does.
void CConsoleRouter::SendTask(Exchange& exchange) {
    Poco::JSON::Object request;
    request.set("command", "task");
    request.set("line", exchange.form.get("line", ""));
    if (exchange.form.get("all", "") == "1") {
        request.set("all", true);
    } else {
        request.set("name", exchange.form.get("computer", ""));
    }
    std::ostringstream line;
    request.stringify(line);
    const Poco::JSON::Object::Ptr answer =
        Poco::JSON::Parser()
            .parse(m_commands.Handle(line.str(), {-1, exchange.session.user + kConsolePeer}))
            .extract<Poco::JSON::Object::Ptr>();
    if (!answer->optValue<bool>("ok", false)) {
        return Tasks(exchange, "Not sent: " + answer->optValue<std::string>("error", ""), true);
    }
    const std::size_t queued = answer->getArray("queued")->size();
    m_log(kInfo, "Console: " + exchange.session.user + " queued a task for " + std::to_string(queued) +
                     " computers");
    Tasks(exchange, "Queued for " + std::to_string(queued) + " computer(s).", false);
}

bool CConsoleRouter::Reauthenticated(Exchange& exchange) {
    std::string password = exchange.form.get("password", "");
    exchange.form.set("password", "");
    const CConsoleAccounts::Result again = m_accounts.SignIn(exchange.session.user, password);
    Tools::Agent::CSecretWiper::Wipe(password);
    return again.outcome == CConsoleAccounts::Outcome::Accepted;
}

void CConsoleRouter::Accounts(Exchange& exchange, const std::string& message, bool refused) {
    Page(exchange, refused ? HTTPResponse::HTTP_BAD_REQUEST : HTTPResponse::HTTP_OK, "Accounts",
         CAccountsPage::Render(m_accounts.List(), exchange.session.csrf, message, refused));
}

// The administrator's password again; then the change and its audit row, kept together or not at
// all. An account whose role changed or that is gone has its sessions ended: it signs in anew.
void CConsoleRouter::ChangeAccount(Exchange& exchange) {
    const std::string action = exchange.form.get("action", "");
    const std::string name = exchange.form.get("name", "");
    if (!Reauthenticated(exchange)) {
        m_log(kWarn, "Console: " + exchange.session.user + " gave a wrong password to change the account " +
                         LoggedName(name));
        return Accounts(exchange, "Your password was not accepted; nothing was changed.", true);
    }
    std::string done;
    try {
        m_store.Database().InTransaction([&](Poco::Data::Session&) {
            done = ApplyAccountChange(exchange, action, name);
            m_store.AppendAudit({0, Tools::Agent::CAgentStore::Now(), exchange.session.user + kConsolePeer,
                                 -1, kAccountAction, "", name, done});
        });
    } catch (const std::invalid_argument& e) {
        return Accounts(exchange, std::string("Nothing was changed: ") + e.what() + ".", true);
    }
    if (action != CAccountsPage::kAdd && action != CAccountsPage::kUnlock) {
        m_sessions.CloseAllOf(name);
    }
    m_log(kInfo, "Console: " + exchange.session.user + " changed the account " + name + ": " + done);
    if (name == exchange.session.user && action != CAccountsPage::kUnlock) {
        return Redirect(exchange, "/login");
    }
    Accounts(exchange, "The account " + name + ": " + done + ".", false);
}

std::string CConsoleRouter::ApplyAccountChange(Exchange& exchange, const std::string& action,
                                               const std::string& name) {
    const std::string role = exchange.form.get("role", "");
    if (action == CAccountsPage::kAdd) {
        std::string password = exchange.form.get("new_password", "");
        std::string again = exchange.form.get("new_password_again", "");
        const bool same = password == again;
        Tools::Agent::CSecretWiper::Wipe(again);
        try {
            if (!same) {
                throw std::invalid_argument("the two passwords differ");
            }
            m_accounts.Add(name, role, password);
        } catch (...) {
            Tools::Agent::CSecretWiper::Wipe(password);
            throw;
        }
        Tools::Agent::CSecretWiper::Wipe(password);
        return "added as " + CConsoleAccounts::RoleNamed(role);
    }
    if (action == CAccountsPage::kSetRole) {
        m_accounts.SetRole(name, role);
        return "given the role " + CConsoleAccounts::RoleNamed(role);
    }
    if (action == CAccountsPage::kUnlock) {
        m_accounts.Unlock(name);
        return "unlocked";
    }
    if (action == CAccountsPage::kRemove) {
        m_accounts.Remove(name);
        return "removed";
    }
    throw std::invalid_argument("there is no change '" + action + "'");
}

void CConsoleRouter::Page(Exchange& exchange, Status status, const std::string& title,
                          const std::string& body) {
    std::string html = CPageLayout::Wrap(title, Viewer(exchange), body);
    Send(exchange.response, status, kHtml, html);
}

void CConsoleRouter::Refuse(Exchange& exchange, Status status, const std::string& text) {
    Page(exchange, status, HTTPResponse::getReasonForStatus(status),
         "<p class=\"bad\">" + CHtml::Escape(text) + "</p>");
}

void CConsoleRouter::Redirect(Exchange& exchange, const std::string& to) {
    std::string empty;
    exchange.response.set("Location", to);
    Send(exchange.response, HTTPResponse::HTTP_SEE_OTHER, kHtml, empty);
}

// The body is wiped once sent: a reveal's page holds the secret.
void CConsoleRouter::Send(Poco::Net::HTTPServerResponse& response, Status status, const std::string& type,
                          std::string& body) {
    response.setStatusAndReason(status);
    response.setContentType(type);
    response.set("Content-Security-Policy", kPolicy);
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Strict-Transport-Security", "max-age=31536000");
    if (!response.has("Cache-Control")) {
        response.set("Cache-Control", "no-store");
    }
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.send().write(body.data(), static_cast<std::streamsize>(body.size()));
    Tools::Agent::CSecretWiper::Wipe(body);
}

void CConsoleRouter::SetCookie(Poco::Net::HTTPServerResponse& response, const std::string& name,
                               const std::string& value, bool expire) {
    Poco::Net::HTTPCookie cookie(name, value);
    cookie.setPath("/");
    cookie.setHttpOnly(true);
    cookie.setSecure(true);
    cookie.setSameSite(Poco::Net::HTTPCookie::SAME_SITE_STRICT);
    if (expire) {
        cookie.setMaxAge(0);
    }
    response.addCookie(cookie);
}

std::string CConsoleRouter::Cookie(const Poco::Net::HTTPServerRequest& request, const std::string& name) {
    Poco::Net::NameValueCollection cookies;
    request.getCookies(cookies);
    return cookies.get(name, "");
}

}  // namespace Server
}  // namespace Zun
