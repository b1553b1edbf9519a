#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <Poco/JSON/Object.h>

#include "tools/browser/CHeadlessChromium.h"
#include "tools/demo/CChildProcess.h"
#include "tools/demo/CSession.h"
#include "tools/demo/CStepTally.h"

namespace Zun {
namespace Tools {
namespace Demo {

// The management side in one scenario: quil-server on its embedded database and three computers,
// each a quil-product with a quil-agent linked to the server through a certificate of its own. The
// escrow loop closes on every computer (items escrowed, confirmed to the product, confirmed by the
// product), an administrator reveals one recovery password behind an audit row, one task goes to
// every computer, and one product that stops answering shows as not reachable in the fleet view.
// Asked for a screenshot folder, it then signs in to the web console in a headless Chromium and
// keeps the fleet page and the recovery page (before any reveal) as PNG files there.
class CFleetDemo {
public:
    // screenshots: the folder for the console's pictures, or empty for none.
    CFleetDemo(const CSession::Options& options, const std::string& screenshots);
    ~CFleetDemo();
    void Run();
    // "N of M steps met their deadline", as the single-computer demo says it.
    std::string Verdict() const;
    // The computers whose escrow the product confirmed and the audited reveals, for the last line.
    std::string Outcome() const;

private:
    void StartServer();
    void StartComputers();
    void EscrowLoop();
    void Reveal();
    void TaskToAll();
    void Unreachable();
    void Screenshots();
    // The page the browser shows, as a PNG in the screenshot folder.
    void Keep(Tools::CHeadlessChromium& browser, const std::string& name);
    void StopAll();

    void Step(const std::string& title);
    void Fact(const std::string& text);
    // quil-server with the demo's configuration; throws with its output when it fails.
    std::string Server(const std::vector<std::string>& arguments, const std::string& input = "");
    // Asks the fleet view again until condition holds for its JSON, or throws naming what.
    void RequireHosts(const std::string& what, const std::function<bool(const std::string&)>& condition,
                      std::chrono::milliseconds timeout);
    // Asks for one computer's view until condition holds for it, or throws naming what.
    void RequireHost(const std::string& name, const std::string& what,
                     const std::function<bool(const Poco::JSON::Object&)>& condition, Deadline deadline);
    std::vector<CChildProcess*> Children();
    void ShowServerTail();

    static const int kSteps = 7;
    static const int kScreenshotSteps = 1;
    static const int kComputers = 3;

    CSession::Options m_options;
    std::string m_screenshots;
    std::string m_folder;
    std::string m_config;
    std::string m_address;
    std::string m_console;  // https://host:port, no slash at the end
    std::unique_ptr<CChildProcess> m_server;
    std::vector<std::unique_ptr<CSession>> m_computers;
    CStepTally m_steps;
    int m_confirmed = 0;
    int m_reveals = 0;
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
