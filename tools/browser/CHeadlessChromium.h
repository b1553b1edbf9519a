#pragma once

#include <Poco/JSON/Object.h>
#include <Poco/Net/WebSocket.h>
#include <Poco/Process.h>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace Zun {
namespace Tools {

// Debian's Chromium, headless, driven through its DevTools protocol over a WebSocket: one page
// (tab) that navigates, runs a line of script as a person's clicks and keys would, and reads what
// the page shows. The browser's profile is a temporary folder; the browser is stopped with the
// object. It accepts the test CA's certificate only because it is told to ignore certificate errors.
class CHeadlessChromium {
public:
    static const char* const kProgram;

    // An error that Chromium answered to a call (as opposed to a socket that broke).
    class CDevToolsError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Debian's package is there to be run.
    static bool Installed();

    CHeadlessChromium();
    ~CHeadlessChromium();
    CHeadlessChromium(const CHeadlessChromium&) = delete;
    CHeadlessChromium& operator=(const CHeadlessChromium&) = delete;

    // Each returns once the new page has loaded.
    void Navigate(const std::string& url);
    // Runs the script that sends a form (its last statement submits).
    void Submit(const std::string& script);
    // Parts of such a script: a value typed into a field of the form with that action, and the form
    // sent.
    static std::string Fill(const std::string& action, const std::string& field, const std::string& value);
    static std::string Send(const std::string& action);
    // The value of the expression in the page, as text.
    std::string Evaluate(const std::string& expression);
    // The page's text as a person reads it.
    std::string Text();
    std::string Path();
    // The whole page as a PNG, laid out width CSS pixels wide at one device pixel each.
    std::string Screenshot(int width);

private:
    Poco::JSON::Object::Ptr Call(const std::string& method, const Poco::JSON::Object::Ptr& params,
                                 bool toPage = true);
    void WaitForDevTools();
    void SetWindow(int width, int height);
    void WaitForNewPage();
    bool WaitFor(const std::string& condition);

    std::string m_profile;
    std::unique_ptr<Poco::ProcessHandle> m_process;
    std::unique_ptr<Poco::Net::WebSocket> m_socket;
    std::string m_session;
    int m_nextId = 1;
    unsigned short m_port = 0;
    std::string m_browserPath;
};

}  // namespace Tools
}  // namespace Zun
