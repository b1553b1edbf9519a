#include "tools/browser/CHeadlessChromium.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Buffer.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace Zun {
namespace Tools {

using Poco::JSON::Object;

const char* const CHeadlessChromium::kProgram = "/usr/bin/chromium";

namespace {

const auto kStartTimeout = std::chrono::seconds(60);
const auto kPoll = std::chrono::milliseconds(100);
const auto kPageTimeout = std::chrono::seconds(30);
const int kReplyTimeoutSeconds = 60;
const int kMaxMessage = 16 * 1024 * 1024;
// A page is laid out in a window this high first, to learn how high it really is.
const int kFirstHeight = 600;
// No taller picture than this, whatever a page holds.
const int kMaxHeight = 8000;

Object::Ptr Params() {
    return new Object;
}

}  // namespace

bool CHeadlessChromium::Installed() {
    return access(kProgram, X_OK) == 0;
}

CHeadlessChromium::CHeadlessChromium() {
    char pattern[] = "/tmp/quil-chromium-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make the browser's profile folder");
    }
    m_profile = pattern;
    std::vector<std::string> arguments = {"--headless",
                                          "--disable-gpu",
                                          "--no-first-run",
                                          "--no-default-browser-check",
                                          "--user-data-dir=" + m_profile,
                                          "--remote-debugging-port=0",
                                          "--ignore-certificate-errors",
                                          "about:blank"};
    // Chromium's own sandbox refuses to start as root, which a CI container often is.
    if (geteuid() == 0) {
        arguments.insert(arguments.begin(), "--no-sandbox");
    }
    m_process.reset(
        new Poco::ProcessHandle(Poco::Process::launch(kProgram, arguments, nullptr, nullptr, nullptr)));
    WaitForDevTools();
    Poco::Net::HTTPClientSession client("127.0.0.1", m_port);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, m_browserPath,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    Poco::Net::HTTPResponse response;
    m_socket.reset(new Poco::Net::WebSocket(client, request, response));
    m_socket->setReceiveTimeout(Poco::Timespan(kReplyTimeoutSeconds, 0));
    m_socket->setMaxPayloadSize(kMaxMessage);
    Object::Ptr target = Params();
    target->set("url", "about:blank");
    const std::string targetId =
        Call("Target.createTarget", target, false)->getValue<std::string>("targetId");
    Object::Ptr attach = Params();
    attach->set("targetId", targetId);
    attach->set("flatten", true);
    m_session = Call("Target.attachToTarget", attach, false)->getValue<std::string>("sessionId");
    Call("Page.enable", Params());
}

CHeadlessChromium::~CHeadlessChromium() {
    m_socket.reset();
    if (m_process) {
        Poco::Process::kill(*m_process);
        m_process->wait();
    }
    std::system(("rm -rf '" + m_profile + "'").c_str());
}

// Chromium writes the port it took and the browser's WebSocket path into the profile once it listens.
void CHeadlessChromium::WaitForDevTools() {
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(m_profile + "/DevToolsActivePort");
        std::string port;
        if (std::getline(file, port) && std::getline(file, m_browserPath) && !m_browserPath.empty()) {
            m_port = static_cast<unsigned short>(std::stoi(port));
            return;
        }
        if (!Poco::Process::isRunning(*m_process)) {
            throw std::runtime_error("chromium ended before its DevTools listened");
        }
        std::this_thread::sleep_for(kPoll);
    }
    throw std::runtime_error("chromium's DevTools did not listen in time");
}

// One command and its answer; events that arrive in between are passed over.
Object::Ptr CHeadlessChromium::Call(const std::string& method, const Object::Ptr& params, bool toPage) {
    const int id = m_nextId++;
    Object message;
    message.set("id", id);
    message.set("method", method);
    message.set("params", params);
    if (toPage) {
        message.set("sessionId", m_session);
    }
    std::ostringstream text;
    message.stringify(text);
    m_socket->sendFrame(text.str().data(), static_cast<int>(text.str().size()));
    for (;;) {
        Poco::Buffer<char> buffer(0);
        int flags = 0;
        const int size = m_socket->receiveFrame(buffer, flags);
        if (size <= 0) {
            throw std::runtime_error("chromium closed its DevTools socket during " + method);
        }
        const Object::Ptr reply =
            Poco::JSON::Parser().parse(std::string(buffer.begin(), buffer.size())).extract<Object::Ptr>();
        if (reply->has("id") && reply->getValue<int>("id") == id) {
            if (reply->has("error")) {
                std::ostringstream error;
                reply->getObject("error")->stringify(error);
                throw CDevToolsError(method + " failed: " + error.str());
            }
            return reply->getObject("result");
        }
    }
}

void CHeadlessChromium::Navigate(const std::string& url) {
    Evaluate("window.quilOld = true");
    Object::Ptr params = Params();
    params->set("url", url);
    Call("Page.navigate", params);
    WaitForNewPage();
}

void CHeadlessChromium::Submit(const std::string& script) {
    Evaluate("window.quilOld = true; " + script);
    WaitForNewPage();
}

std::string CHeadlessChromium::Fill(const std::string& action, const std::string& field,
                                    const std::string& value) {
    std::string literal;
    for (char c : value) {
        if (c == '\\' || c == '\'') {
            literal += '\\';
        }
        literal += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return "document.querySelector('form[action=\"" + action + "\"] input[name=" + field + "]').value = '" +
           literal + "'; ";
}

std::string CHeadlessChromium::Send(const std::string& action) {
    return "document.querySelector('form[action=\"" + action + "\"]').submit();";
}

// The page that was marked is gone and its successor has loaded.
void CHeadlessChromium::WaitForNewPage() {
    if (!WaitFor("window.quilOld !== true && document.readyState === 'complete'")) {
        throw std::runtime_error("no new page loaded in time");
    }
}

// Asked while a page is being replaced, the evaluation may meet no page at all: Chromium answers
// that the context was destroyed or is not there yet, which only means "not yet".
bool CHeadlessChromium::WaitFor(const std::string& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPageTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            if (Evaluate("String(" + condition + ")") == "true") {
                return true;
            }
        } catch (const CDevToolsError&) {
        }
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

std::string CHeadlessChromium::Evaluate(const std::string& expression) {
    Object::Ptr params = Params();
    params->set("expression", expression);
    params->set("returnByValue", true);
    const Object::Ptr result = Call("Runtime.evaluate", params)->getObject("result");
    return result->has("value") ? result->get("value").toString() : std::string();
}

std::string CHeadlessChromium::Text() {
    return Evaluate("document.body ? document.body.innerText : ''");
}

std::string CHeadlessChromium::Path() {
    return Evaluate("location.pathname");
}

void CHeadlessChromium::SetWindow(int width, int height) {
    Object::Ptr metrics = Params();
    metrics->set("width", width);
    metrics->set("height", height);
    metrics->set("deviceScaleFactor", 1);
    metrics->set("mobile", false);
    Call("Emulation.setDeviceMetricsOverride", metrics);
}

std::string CHeadlessChromium::Screenshot(int width) {
    SetWindow(width, kFirstHeight);
    const int height = std::stoi(Evaluate("String(document.documentElement.scrollHeight)"));
    SetWindow(width, std::min(std::max(height, 1), kMaxHeight));
    Object::Ptr params = Params();
    params->set("format", "png");
    std::istringstream encoded(Call("Page.captureScreenshot", params)->getValue<std::string>("data"));
    Poco::Base64Decoder decoder(encoded);
    std::string png((std::istreambuf_iterator<char>(decoder)), std::istreambuf_iterator<char>());
    Call("Emulation.clearDeviceMetricsOverride", Params());
    return png;
}

}  // namespace Tools
}  // namespace Zun
