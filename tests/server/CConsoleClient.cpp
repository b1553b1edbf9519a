#include "tests/server/CConsoleClient.h"

#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPCookie.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPSClientSession.h>
#include <Poco/StreamCopier.h>
#include <regex>
#include <sstream>

namespace Zun {
namespace Testing {

CConsoleClient::CConsoleClient(unsigned short port, const std::string& caCertificate) : m_port(port) {
    Poco::Net::Context::Params params;
    params.caLocation = caCertificate;
    params.verificationMode = Poco::Net::Context::VERIFY_STRICT;
    params.loadDefaultCAs = false;
    m_context = new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, params);
}

const std::string& CConsoleClient::Header(const Reply& reply, const std::string& name) {
    static const std::string none;
    return reply.headers.has(name) ? reply.headers[name] : none;
}

CConsoleClient::Reply CConsoleClient::Get(const std::string& path) {
    return Send(Poco::Net::HTTPRequest::HTTP_GET, path, "");
}

CConsoleClient::Reply CConsoleClient::Post(const std::string& path, const Form& form) {
    Poco::Net::HTMLForm encoded;
    for (const auto& field : form) {
        encoded.add(field.first, field.second);
    }
    std::ostringstream body;
    encoded.write(body);
    return Send(Poco::Net::HTTPRequest::HTTP_POST, path, body.str());
}

CConsoleClient::Reply CConsoleClient::SignIn(const std::string& user, const std::string& password) {
    Get("/login");
    return Post("/login", {{"csrf", m_csrf}, {"user", user}, {"password", password}});
}

CConsoleClient::Reply CConsoleClient::Send(const std::string& method, const std::string& path,
                                           const std::string& body) {
    Poco::Net::HTTPSClientSession session("localhost", m_port, m_context);
    Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
    Poco::Net::NameValueCollection cookies;
    for (const auto& cookie : m_cookies) {
        cookies.add(cookie.first, cookie.second);
    }
    request.setCookies(cookies);
    if (method == Poco::Net::HTTPRequest::HTTP_POST) {
        request.setContentType(Poco::Net::HTMLForm::ENCODING_URL);
        request.setContentLength(static_cast<std::streamsize>(body.size()));
    }
    session.sendRequest(request) << body;
    Poco::Net::HTTPResponse response;
    std::istream& in = session.receiveResponse(response);
    Reply reply;
    reply.status = response.getStatus();
    Poco::StreamCopier::copyToString(in, reply.body);
    for (const auto& header : response) {
        if (Poco::icompare(header.first, "Set-Cookie") == 0) {
            reply.setCookies.push_back(header.second);
        } else {
            reply.headers.add(header.first, header.second);
        }
    }
    Keep(reply);
    return reply;
}

void CConsoleClient::Keep(const Reply& reply) {
    for (const std::string& text : reply.setCookies) {
        const std::string pair = text.substr(0, text.find(';'));
        const std::string name = pair.substr(0, pair.find('='));
        const std::string value = pair.substr(pair.find('=') + 1);
        if (value.empty()) {
            m_cookies.erase(name);
        } else {
            m_cookies[name] = value;
        }
    }
    static const std::regex csrf("name=\"csrf\" value=\"([0-9a-f]+)\"");
    std::smatch found;
    if (std::regex_search(reply.body, found, csrf)) {
        m_csrf = found[1];
    }
}

}  // namespace Testing
}  // namespace Zun
