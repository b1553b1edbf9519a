#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/admin/CCertificateAuthority.h"
#include "server/api/CLinkServer.h"
#include "server/service/IAgentLinkHandler.h"

namespace Zun {
namespace Testing {

// Stands in for the fleet service: records what the link hands over, keeps committed rows per
// computer, queues deliveries and refuses computers on request. Waits have deadlines.
class CRecordingHandler : public Server::IAgentLinkHandler {
public:
    int64_t Connected(const std::string& computer, const std::string& serial,
                      const quil::link::v1::Hello& hello, Wake wake) override;
    int64_t Commit(const std::string& computer, const std::vector<quil::link::v1::StoredRow>& rows) override;
    std::vector<Delivery> TakeDeliveries(const std::string& computer) override;
    void Answered(const std::string& computer, const quil::link::v1::TaskAnswer& answer) override;
    void Disconnected(const std::string& computer, const std::vector<int64_t>& unanswered) override;

    void Refuse(const std::string& reason);
    void Queue(int64_t id, const std::string& line);
    // Offers every delivery again, as after an answer that was lost.
    void Requeue();
    bool WaitFor(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));

    std::mutex mutex;                    // guards what follows
    std::vector<std::string> computers;  // one per Connected
    std::vector<std::string> serials;
    std::vector<std::string> instances;
    std::vector<quil::link::v1::StoredRow> rows;  // every row received, repeats included
    std::map<std::string, int64_t> committed;
    std::vector<quil::link::v1::TaskAnswer> answers;
    int commits = 0;
    int disconnects = 0;
    std::vector<int64_t> unanswered;  // what the last stream to end left unanswered

private:
    std::condition_variable m_changed;
    std::string m_refusal;
    std::vector<Delivery> m_queued;
    std::vector<Delivery> m_all;
    Wake m_wake;
};

// A CA in a temporary folder and a link server on a free port of localhost, with its log kept.
class CLinkTestBed {
public:
    CLinkTestBed();
    ~CLinkTestBed();

    std::string Folder() const { return m_folder; }
    Server::CCertificateAuthority& Authority() { return *m_authority; }
    CRecordingHandler& Handler() { return m_handler; }
    std::string Address() const;
    // A bundle for the computer in the test's folder.
    std::string Enrol(const std::string& computer, int validDays = 30, std::string* serial = nullptr);
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void StopServer();

private:
    std::string m_folder;
    std::unique_ptr<Server::CCertificateAuthority> m_authority;
    CRecordingHandler m_handler;
    std::unique_ptr<Server::CLinkServer> m_server;
    std::mutex m_logMutex;
    std::condition_variable m_logged;
    std::string m_log;
};

}  // namespace Testing
}  // namespace Zun
