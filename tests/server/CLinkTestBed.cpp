#include "tests/server/CLinkTestBed.h"

#include <stdlib.h>

#include <Poco/File.h>

#include <stdexcept>

namespace Zun {
namespace Testing {

int64_t CRecordingHandler::Connected(const std::string& computer, const std::string& serial,
                                     const quil::link::v1::Hello& hello, Wake wake) {
    std::lock_guard<std::mutex> lock(mutex);
    computers.push_back(computer);
    serials.push_back(serial);
    instances.push_back(hello.instance_uuid());
    m_changed.notify_all();
    if (!m_refusal.empty()) {
        throw std::runtime_error(m_refusal);
    }
    m_wake = wake;
    return committed[computer];
}

int64_t CRecordingHandler::Commit(const std::string& computer,
                                  const std::vector<quil::link::v1::StoredRow>& batch) {
    std::lock_guard<std::mutex> lock(mutex);
    int64_t& through = committed[computer];
    for (const quil::link::v1::StoredRow& row : batch) {
        rows.push_back(row);
        through = row.sequence() == through + 1 ? row.sequence() : through;
    }
    ++commits;
    m_changed.notify_all();
    return through;
}

std::vector<CRecordingHandler::Delivery> CRecordingHandler::TakeDeliveries(const std::string&) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Delivery> taken;
    taken.swap(m_queued);
    return taken;
}

void CRecordingHandler::Answered(const std::string&, const quil::link::v1::TaskAnswer& answer) {
    std::lock_guard<std::mutex> lock(mutex);
    answers.push_back(answer);
    m_changed.notify_all();
}

void CRecordingHandler::Disconnected(const std::string&, const std::vector<int64_t>& left) {
    std::lock_guard<std::mutex> lock(mutex);
    ++disconnects;
    unanswered = left;
    m_wake = Wake();
    m_changed.notify_all();
}

void CRecordingHandler::Refuse(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex);
    m_refusal = reason;
}

void CRecordingHandler::Queue(int64_t id, const std::string& line) {
    Wake wake;
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_queued.push_back(Delivery{id, line});
        m_all.push_back(Delivery{id, line});
        wake = m_wake;
    }
    if (wake) {
        wake();
    }
}

void CRecordingHandler::Requeue() {
    Wake wake;
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_queued = m_all;
        wake = m_wake;
    }
    if (wake) {
        wake();
    }
}

bool CRecordingHandler::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return m_changed.wait_for(lock, timeout, condition);
}

CLinkTestBed::CLinkTestBed() {
    char pattern[] = "/tmp/quil-link-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_folder = pattern;
    m_authority.reset(new Server::CCertificateAuthority(m_folder + "/ca"));
    m_authority->Init({"link.test"});
    Server::CLinkServer::Settings settings;
    settings.listen = "127.0.0.1:0";
    settings.caCertificate = m_authority->CaCertificateFile();
    settings.certificate = m_authority->ServerCertificateFile();
    settings.privateKey = m_authority->ServerKeyFile();
    m_server.reset(new Server::CLinkServer(settings, m_handler, [this](int, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_logMutex);
        m_log += text + "\n";
        m_logged.notify_all();
    }));
    m_server->Start();
}

CLinkTestBed::~CLinkTestBed() {
    StopServer();
    if (getenv("QUIL_KEEP_LINK_FOLDER") == nullptr) {
        Poco::File(m_folder).remove(true);
    }
}

void CLinkTestBed::StopServer() {
    if (m_server) {
        m_server->Stop();
    }
}

std::string CLinkTestBed::Address() const {
    return "localhost:" + std::to_string(m_server->Port());
}

std::string CLinkTestBed::Enrol(const std::string& computer, int validDays, std::string* serial) {
    static int count = 0;
    const std::string bundle = m_folder + "/" + computer + "-" + std::to_string(++count) + ".pem";
    const Server::CCertificateAuthority::Issued issued = m_authority->Enrol(computer, bundle, validDays);
    if (serial != nullptr) {
        *serial = issued.serial;
    }
    return bundle;
}

bool CLinkTestBed::WaitForLog(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_logMutex);
    return m_logged.wait_for(lock, timeout, [&] { return m_log.find(text) != std::string::npos; });
}

}  // namespace Testing
}  // namespace Zun
