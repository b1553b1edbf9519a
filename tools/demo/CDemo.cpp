#include "tools/demo/CDemo.h"

#include <Poco/Base64Decoder.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "tools/agent/logs/CMessageSummary.h"

namespace Zun {
namespace Tools {
namespace Demo {

namespace {

using std::chrono::seconds;

// A watchdog look is due at most 10 s after the last one; a reconnect comes 10 s after a failure.
const seconds kQuick(10);
const seconds kWatchdog(20);
const seconds kReconnect(30);

const char kState[] = R"({
  "Status": [{"Status": 0, "CategoryResId": "0x12000001", "StatusResId": "0x120000FD", "DescriptionResId": "0x1"}],
  "Licenses": [{"AssociatedSeatId": "SEAT-0042", "LicensePublicId": "VELM-FDE-0042",
                "LicenseProductName": "VELM Full Disk Encryption", "LicenseExpirationDate": 1893456000,
                "ActivatedByZun": false, "ProductCode": 29, "SeatName": "demo-desk", "LicenseRenewalPeriod": 365,
                "LicenseType": "Subscription", "LicenseFlags": 0, "LicenseModelType": "Seat",
                "LicenseModelStatus": "Active"}],
  "RecoveryPasswords": [{"Uid": "rp-1", "DeviceId": "disk-0", "Index": "0", "Value": "482193-771026-305518-990417"}],
  "RecoveryData": [{"Uid": "rd-1", "DeviceId": "disk-0", "ValueBase64": "cmVjb3Zlcnkta2V5LWJsb2NrLWRpc2stMA=="}],
  "Configuration": "<VELM><Encryption Algorithm=\"AES-256\"/></VELM>",
  "RecoveryReannounceSeconds": 0
})";
const char kPolicy[] = "<VELM><Policy Name=\"demo\"><Maintenance AllowUserUnlock=\"1\"/></Policy></VELM>";

// Task identifiers that read well in the summary; each agent task gets its own first identifier.
std::string Ids(const std::string& task) {
    const std::string first = "d0000000-0000-4000-8000-0000000000" + task;
    return "[\"" + first + "\",\"d0000000-0000-4000-8000-0000000001" + task +
           "\",\"d0000000-0000-4000-8000-0000000002" + task + "\"]";
}
std::string First(const std::string& task) {
    return "d0000000-0000-4000-8000-0000000000" + task;
}

std::string DecodeBase64(const std::string& text) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
}

std::string JsonText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c == '"' ? "\\\"" : std::string(1, c);
    }
    return escaped;
}

std::string TaskName(const std::string& line) {
    const size_t start = line.find("\"task\":\"") + 8;
    return line.substr(start, line.find('"', start) - start);
}

bool AllClear(const CPublished& status) {
    return status.RowCount() == 1 && status.Symbol(0, 248) == "0xFFFFFFFFFFFFFFFF";
}

}  // namespace

CDemo::CDemo(const CSession::Options& options)
    : m_session(options), m_start(std::chrono::steady_clock::now()) {
    m_taskNames = {{First("01"), "activation"},           {First("02"), "block password"},
                   {First("03"), "invalidate password"},  {First("04"), "wipe password"},
                   {First("05"), "maintenance on"},       {First("06"), "maintenance off"},
                   {First("07"), "configuration export"}, {First("08"), "configuration export"}};
}

void CDemo::Run() {
    std::cout << "QUIL connector demo: quil-product and quil-agent with the production module\n"
              << "  folder " << m_session.Folder() << "\n";
    try {
        StartBoth();
        FirstLook();
        SendBatch();
        TaskResults();
        ProductRestart();
        ExportAgain();
        Stop();
        m_steps.Finish();
    } catch (const std::exception&) {
        // After Ctrl-C the agent's lines tell of the stop, not of a fault.
        if (!CChildProcess::Interrupted()) {
            ShowAgentTail();
        }
        throw;
    }
}

void CDemo::ShowAgentTail() {
    const CChildProcess* agent = m_session.Agent();
    if (agent == nullptr) {
        return;
    }
    const std::string& errors = agent->Errors();
    size_t start = errors.size();
    for (int lines = 0; lines < 20 && start > 0; ++lines) {
        start = errors.rfind('\n', start - 2);
        start = start == std::string::npos ? 0 : start + 1;
    }
    std::cerr << "The agent's last lines:\n" << errors.substr(start);
}

std::string CDemo::Verdict() const {
    return m_steps.Verdict(CChildProcess::Interrupted());
}

// A step begins once the previous one came true.
void CDemo::Step(const std::string& title) {
    m_steps.Begin(title);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "[%5.1fs] ", elapsed);
    std::cout << "\n" << stamp << title << "\n" << std::flush;
}

void CDemo::Fact(const std::string& text) {
    std::cout << "          " << text << "\n" << std::flush;
}

void CDemo::StartBoth() {
    Step("The product is installed and serves (quil-product install; quil-product serve)");
    m_session.InstallProduct();
    m_session.StartProduct(kState);
    Step("The agent loads libquil_connector.so; the module connects and announces itself");
    m_session.StartAgent();
    m_session.Require(
        "the connect logs",
        [](const CPublishedLog& log) {
            return log.Count(10292) >= 1 && log.Count(10405) >= 1 && log.Count(10044) >= 1;
        },
        kQuick);
    for (uint32_t type : {10292u, 10405u, 10044u}) {
        Fact(Gist(m_session.Published().OfType(type).front()));
    }
}

void CDemo::FirstLook() {
    Step("The watchdog's first look at the broadcast area asks for status, licences and recovery data");
    m_session.Require(
        "status, storage, licences and recovery data",
        [](const CPublishedLog& log) {
            return log.Count(10044) >= 2 && log.Count(10553) >= 1 && log.Count(10348) >= 1 &&
                   log.Count(728) >= 1;
        },
        kQuick);
    const CPublishedLog log = m_session.Published();
    for (uint32_t type : {10553u, 10348u, 728u}) {
        Fact(Gist(log.OfType(type).front()));
    }
}

void CDemo::SendBatch() {
    Step("The management server's tasks arrive as one batch on the agent's input");
    const std::vector<std::string> tasks = {
        R"({"task":"export-configuration","product_type":10,"ids":)" + Ids("07") + "}",
        R"({"task":"activate","managed_activation":"VELM-FDE-0042","ids":)" + Ids("01") + "}",
        R"({"task":"block-password","ids":)" + Ids("02") + "}",
        R"({"task":"invalidate-password","ids":)" + Ids("03") + "}",
        R"({"task":"wipe-password","ids":)" + Ids("04") + "}",
        R"({"task":"maintenance-on","boots":3,"seconds":3600,"ids":)" + Ids("05") + "}",
        R"({"task":"query","kind":0})",
        R"({"task":"maintenance-off","ids":)" + Ids("06") + "}",
        R"({"task":"policy","configuration":")" + JsonText(kPolicy) + "\"}",
        R"({"task":"recovery-response","passwords":["rp-1"],"data":["rd-1"]})"};
    // The status query in the batch is the first 10044 after this point: the next watchdog look is 10 s away.
    const size_t before = m_session.Published().Count(10044);
    for (const std::string& task : tasks) {
        m_session.Send(task);
        Fact("sent " + TaskName(task));
    }
    Fact(Gist(RequireResult(First("07"), kQuick)));
    m_session.Require(
        "the configuration export", [](const CPublishedLog& log) { return log.Count(10244) >= 1; }, kQuick);
    Fact(Gist(m_session.Published().OfType(10244).front()));
    m_session.Require(
        "the status in maintenance mode",
        [before](const CPublishedLog& log) { return log.Count(10044) > before; }, kQuick);
    Fact("maintenance on: " + Gist(m_session.Published().OfType(10044).at(before)));
}

void CDemo::TaskResults() {
    Step("The product finishes the commands; the watchdog sees value 8 change and fetches the results");
    for (const char* task : {"01", "02", "03", "04", "05", "06"}) {
        Fact(Gist(RequireResult(First(task), kWatchdog)));
    }
    m_session.Require(
        "the activated licence",
        [](const CPublishedLog& log) { return log.OfType(10348).back().Symbol(0, 2700) == "true"; },
        kWatchdog);
    Fact(Gist(m_session.Published().OfType(10348).back()));
    m_session.Require(
        "the status after maintenance mode",
        [](const CPublishedLog& log) { return AllClear(log.OfType(10044).back()); }, kWatchdog);
    Fact("maintenance off: " + Gist(m_session.Published().OfType(10044).back()));
    const std::string shown = m_session.Control("{\"op\":\"show\"}");
    Fact(shown.find("rp-1") == std::string::npos
             ? "the product holds no unconfirmed recovery material: escrow confirmed"
             : "the product still holds rp-1");
}

void CDemo::ProductRestart() {
    Step("The product goes away (quil-product ctl stop)");
    const size_t mark = m_session.Agent()->Errors().size();
    m_session.StopProduct();
    m_session.RequireAgentLine("Ping failed", mark, kWatchdog);
    Fact("the watchdog's ping failed: the module disconnects and retries in 10 s");
    Step("The product comes back, restarted with its first state: no policy");
    const size_t connects = m_session.Published().Count(10292);
    const size_t comeback = m_session.Agent()->Errors().size();
    m_session.StartProduct(kState);
    m_session.Require(
        "the reconnect", [connects](const CPublishedLog& log) { return log.Count(10292) > connects; },
        kReconnect);
    Fact("the module reconnected: " + Gist(m_session.Published().OfType(10292).back()));
    m_session.RequireAgentLine("Set policy request to product was successfull", comeback, kQuick);
    Fact("the module applied the stored policy again");
}

void CDemo::ExportAgain() {
    Step("A second configuration export shows the re-applied policy");
    m_session.Send(R"({"task":"export-configuration","product_type":10,"ids":)" + Ids("08") + "}");
    m_session.Require(
        "the second export", [](const CPublishedLog& log) { return log.Count(10244) >= 2; }, kQuick);
    const CPublished exported = m_session.Published().OfType(10244).back();
    Fact(Gist(exported));
    if (DecodeBase64(exported.Symbol(0, 1892)) != kPolicy) {
        throw std::runtime_error("The product's configuration is not the policy after the restart");
    }
}

void CDemo::Stop() {
    Step("The agent stops (SIGTERM), then the product");
    const int agent = m_session.StopAgent();
    const int product = m_session.StopProduct();
    Fact("quil-agent exited with " + std::to_string(agent) + ", quil-product with " +
         std::to_string(product));
    if (agent != 0 || product != 0) {
        throw std::runtime_error("A program did not stop cleanly");
    }
}

CPublished CDemo::RequireResult(const std::string& first, std::chrono::milliseconds timeout) {
    auto find = [first](const CPublishedLog& log, CPublished* found) {
        for (const CPublished& event : log.OfType(10368)) {
            if (event.Symbol(0, 2842) == first) {
                if (found != nullptr) {
                    *found = event;
                }
                return true;
            }
        }
        return false;
    };
    m_session.Require(
        "the result of " + m_taskNames[first], [&](const CPublishedLog& log) { return find(log, nullptr); },
        timeout);
    CPublished event = m_session.Published().OfType(10368).front();
    find(m_session.Published(), &event);
    return event;
}

std::string CDemo::Gist(const CPublished& m) const {
    return Agent::CMessageSummary::Line(m.Type(), m.Describe(), m.UserContext(), m.Fields(),
                                        [this](const std::string& first) {
                                            const auto name = m_taskNames.find(first);
                                            return name == m_taskNames.end() ? std::string() : name->second;
                                        });
}

void CDemo::PrintSummary() {
    std::cout << "\nWhat crossed the agent's bus (quil-agent logs --json, one line each):\n";
    std::map<uint32_t, int> counts;
    std::istringstream lines(m_session.AgentLogs({"--json"}));
    for (std::string line; std::getline(lines, line);) {
        const CPublished message = CPublished::FromJsonLine(line);
        ++counts[message.Type()];
        std::cout << "  #" << message.Sequence() << " "
                  << message.Fields().getValue<std::string>("time").substr(11) << "  " << Gist(message)
                  << "\n";
    }
    std::cout << "\nPublished by the module, per type:";
    for (uint32_t type : {10292u, 10405u, 10044u, 10553u, 10348u, 10368u, 10244u, 728u}) {
        std::cout << " " << type << " x" << counts[type];
    }
    std::cout << "\n";
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
