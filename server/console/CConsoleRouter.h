#pragma once

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <functional>
#include <string>

#include "server/admin/CAdminCommands.h"
#include "server/console/CConsoleAccounts.h"
#include "server/console/CConsoleSessions.h"
#include "server/console/CPageLayout.h"
#include "server/service/CFleetService.h"
#include "server/service/CFleetView.h"

namespace Zun {
namespace Server {

// The console's requests: who is signed in (the session cookie), whether a form came from one of our
// pages (its CSRF token), whether the account's role may see the page, and then the page. Every
// answer carries the security headers and none is cached. Never throws to the HTTP server: a failure
// is a page that says what went wrong.
class CConsoleRouter {
public:
    // level: 0 debug, 1 info, 2 warn, 3 error. Never given a secret.
    typedef std::function<void(int level, const std::string& text)> Log;

    static const char* const kSessionCookie;
    static const char* const kLoginCookie;
    static const std::streamsize kMaxBody = 64 * 1024;

    CConsoleRouter(CConsoleAccounts& accounts, CFleetStore& store, CFleetService& service,
                   CAdminCommands& commands, Log log);

    void Serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

private:
    struct Exchange {
        Poco::Net::HTTPServerRequest& request;
        Poco::Net::HTTPServerResponse& response;
        Poco::Net::HTMLForm form;
        std::string path;
        bool post = false;
        CConsoleSessions::Session session;
        std::string token;
    };

    void Route(Exchange& exchange);
    bool ReadForm(Exchange& exchange);
    bool SignedIn(Exchange& exchange);
    void RouteSignedIn(Exchange& exchange);
    CPageLayout::Viewer Viewer(const Exchange& exchange) const;

    void LoginPage(Exchange& exchange, Poco::Net::HTTPResponse::HTTPStatus status, const std::string& error);
    void Login(Exchange& exchange);
    void Logout(Exchange& exchange);
    void Fleet(Exchange& exchange);
    void Computer(Exchange& exchange);
    void Recovery(Exchange& exchange, const std::string& query, const std::string& error);
    void Reveal(Exchange& exchange);
    void Audit(Exchange& exchange);
    void Tasks(Exchange& exchange, const std::string& message, bool refused);
    void SendTask(Exchange& exchange);
    void Accounts(Exchange& exchange, const std::string& message, bool refused);
    void ChangeAccount(Exchange& exchange);
    // Applies the form's change to the accounts; returns what was done, for the audit and the page.
    std::string ApplyAccountChange(Exchange& exchange, const std::string& action, const std::string& name);
    // Whether the form's "password" is the signed-in account's own; wipes it from the form.
    bool Reauthenticated(Exchange& exchange);

    void Page(Exchange& exchange, Poco::Net::HTTPResponse::HTTPStatus status, const std::string& title,
              const std::string& body);
    void Refuse(Exchange& exchange, Poco::Net::HTTPResponse::HTTPStatus status, const std::string& text);
    static void Redirect(Exchange& exchange, const std::string& to);
    static void Send(Poco::Net::HTTPServerResponse& response, Poco::Net::HTTPResponse::HTTPStatus status,
                     const std::string& type, std::string& body);
    static void SetCookie(Poco::Net::HTTPServerResponse& response, const std::string& name,
                          const std::string& value, bool expire);
    static std::string Cookie(const Poco::Net::HTTPServerRequest& request, const std::string& name);

    CConsoleAccounts& m_accounts;
    CConsoleSessions m_sessions;
    CFleetStore& m_store;
    CFleetService& m_service;
    CAdminCommands& m_commands;
    CFleetView m_view;
    Log m_log;
};

}  // namespace Server
}  // namespace Zun
