#pragma once

#include <Poco/Net/Context.h>
#include <Poco/Net/NameValueCollection.h>
#include <map>
#include <string>
#include <vector>

namespace Zun {
namespace Testing {

// A browser's part of the console's conversation over real HTTPS: it trusts the server's CA only,
// keeps the cookies it is given and sends them back, and reads the forms' CSRF tokens.
class CConsoleClient {
public:
    struct Reply {
        int status = 0;
        std::string body;
        Poco::Net::NameValueCollection headers;
        std::vector<std::string> setCookies;
    };
    typedef std::vector<std::pair<std::string, std::string>> Form;

    CConsoleClient(unsigned short port, const std::string& caCertificate);

    Reply Get(const std::string& path);
    Reply Post(const std::string& path, const Form& form);
    // The sign-in page, then the form with its token; the reply to the form.
    Reply SignIn(const std::string& user, const std::string& password);
    // The CSRF token in the last page that had one.
    const std::string& Csrf() const { return m_csrf; }

    static const std::string& Header(const Reply& reply, const std::string& name);

private:
    Reply Send(const std::string& method, const std::string& path, const std::string& body);
    void Keep(const Reply& reply);

    unsigned short m_port;
    Poco::Net::Context::Ptr m_context;
    std::map<std::string, std::string> m_cookies;
    std::string m_csrf;
};

}  // namespace Testing
}  // namespace Zun
