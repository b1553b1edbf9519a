#include "bench/fleet/CSimulatedAgent.h"

#include <algorithm>
#include <atomic>
#include <deque>

namespace QuilBench {

using quil::link::v1::AgentMessage;
using quil::link::v1::ServerMessage;

namespace {

const uint32_t kRecoveryRequest = 728;
const uint32_t kProtectionStatus = 10044;
const uint32_t kConnectorStatus = 10292;
const uint32_t kTaskResult = 10368;
const std::chrono::seconds kHeartbeat(60);
const std::chrono::seconds kStatusChange(600);
const char* const kRecoveryResponse = "recovery-response";
const char* const kRecoveryQuery = "\"kind\":3";
const char* const kMarkedKind = "\"kind\":0";
// The agent's keepalive, so that the server carries the pings a real fleet sends.
const int kKeepaliveMs = 60 * 1000;

std::string Time() {
    return "2026-12-06T12:00:00.000Z";
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

const char* const CSimulatedAgent::kMarkedTask = "{\"task\":\"query\",\"kind\":0}";

// One connection: Hello first, then whatever the agent queues, one write in flight at a time.
class CSimulatedAgent::CStream : public grpc::ClientBidiReactor<AgentMessage, ServerMessage> {
public:
    CStream(CSimulatedAgent& agent, const std::shared_ptr<grpc::Channel>& channel)
        : m_agent(agent), m_stub(quil::link::v1::AgentLink::NewStub(channel)) {}

    void Start(const std::string& instance) {
        m_stub->async()->Connect(&m_context, this);
        AgentMessage hello;
        hello.mutable_hello()->set_agent_version("fleet-bench");
        hello.mutable_hello()->set_instance_uuid(instance);
        Write(std::move(hello));
        StartRead(&m_incoming);
        StartCall();
    }

    void Write(AgentMessage message) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_outgoing.push_back(std::move(message));
        if (m_writing) {
            return;
        }
        m_writing = true;
        const AgentMessage* next = &m_outgoing.front();
        lock.unlock();
        StartWrite(next);
    }

    void Cancel() { m_context.TryCancel(); }

    void OnWriteDone(bool ok) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_outgoing.pop_front();
        if (!ok || m_outgoing.empty()) {
            m_writing = false;
            return;
        }
        const AgentMessage* next = &m_outgoing.front();
        lock.unlock();
        StartWrite(next);
    }

    void OnReadDone(bool ok) override {
        if (!ok) {
            return;  // OnDone follows once the call is over
        }
        if (m_incoming.has_welcome()) {
            m_agent.Welcomed(this, m_incoming.welcome().committed_through());
        } else if (m_incoming.has_ack()) {
            m_agent.Acked(m_incoming.ack().committed_through());
        } else if (m_incoming.has_task()) {
            m_agent.TaskArrived(this, m_incoming.task());
        }
        StartRead(&m_incoming);
    }

    // The agent keeps the stream (and its channel) until this returned: gRPC's thread is still in it.
    void OnDone(const grpc::Status&) override {
        m_agent.Ended(this);
        m_finished = true;
    }

    bool Finished() const { return m_finished; }

private:
    CSimulatedAgent& m_agent;
    std::unique_ptr<quil::link::v1::AgentLink::Stub> m_stub;
    grpc::ClientContext m_context;
    std::atomic<bool> m_finished{false};
    ServerMessage m_incoming;
    std::mutex m_mutex;
    std::deque<AgentMessage> m_outgoing;  // front: the write in flight
    bool m_writing = false;
};

CSimulatedAgent::CSimulatedAgent(const Identity& identity, const std::string& address, double compression,
                                 Clock::time_point start)
    : m_identity(identity),
      m_address(address),
      m_heartbeat(std::chrono::duration_cast<std::chrono::microseconds>(kHeartbeat / compression)),
      m_statusChange(std::chrono::duration_cast<std::chrono::microseconds>(kStatusChange / compression)),
      m_connectAt(start) {
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = identity.ca;
    tls.pem_private_key = identity.key;
    tls.pem_cert_chain = identity.certificate;
    m_credentials = grpc::SslCredentials(tls);
    m_nextHeartbeat = start + m_heartbeat;
    m_nextStatus = start + m_statusChange;
    // The product hands out its recovery password as the agent starts.
    MakeRow(kRecoveryRequest, "{}", true);
}

CSimulatedAgent::~CSimulatedAgent() {
    Stop();
}

void CSimulatedAgent::MakeRow(uint32_t type, const std::string& content, bool escrow) {
    quil::link::v1::StoredRow row;
    row.set_sequence(++m_last);
    row.set_time(Time());
    row.set_type(type);
    row.set_class_name(type == kRecoveryRequest ? "CQUILProcessRecoveryDataRequest" : "CStatusLog");
    row.set_content(content);
    if (escrow) {
        quil::link::v1::RecoveryItem* item = row.add_recovery_items();
        item->set_kind(quil::link::v1::RecoveryItem::PASSWORD);
        item->set_internal_id("rp-" + m_identity.name);
        item->set_device_id("{disk-0}");
        item->set_index("1");
        item->set_secret("123456-234567-345678-456789-567890-678901-789012-890123");
    }
    m_unacked[row.sequence()] = std::move(row);
}

void CSimulatedAgent::Tick(Clock::time_point now) {
    std::shared_ptr<CStream> starting;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended.erase(std::remove_if(m_ended.begin(), m_ended.end(), [](auto& s) { return s->Finished(); }),
                      m_ended.end());
        if (m_stopped) {
            return;
        }
        while (!m_quiet && now >= m_nextHeartbeat) {
            MakeRow(kConnectorStatus, "{\"heartbeat\":true}");
            m_nextHeartbeat += m_heartbeat;
        }
        while (!m_quiet && now >= m_nextStatus) {
            MakeRow(kProtectionStatus, "{\"protection\":" + std::to_string(m_last % 2) + "}");
            m_nextStatus += m_statusChange;
        }
        if (!m_stream && now >= m_connectAt) {
            grpc::ChannelArguments arguments;
            arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, kKeepaliveMs);
            arguments.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);
            // Each connection a channel of its own, as the agent makes: no reconnection state of
            // gRPC's stacks on our back-off.
            arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
            m_stream = std::make_shared<CStream>(
                *this, grpc::CreateCustomChannel(m_address, m_credentials, arguments));
            starting = m_stream;
        } else if (m_stream && m_connected) {
            SendAfter(m_stream.get(), m_sentThrough);
        }
    }
    // Outside the lock: gRPC may run the stream's first reactions on this thread.
    if (starting) {
        starting->Start(m_identity.name);
    }
}

// Under the lock: the rows the stream has not carried yet, in sequence order.
void CSimulatedAgent::SendAfter(CStream* stream, int64_t sequence) {
    const Clock::time_point now = Clock::now();
    for (auto row = m_unacked.upper_bound(sequence); row != m_unacked.end(); ++row) {
        AgentMessage message;
        *message.mutable_row() = row->second;
        stream->Write(std::move(message));
        m_firstSent.emplace(row->first, now);
        if (row->second.recovery_items_size() > 0 && m_escrowSent == Clock::time_point()) {
            m_escrowSent = now;
        }
        m_sentThrough = row->first;
    }
}

void CSimulatedAgent::Welcomed(CStream* stream, int64_t committedThrough) {
    const Clock::time_point now = Clock::now();
    Acked(committedThrough);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = true;
    m_backoff.Reset();
    ++m_figures.connections;
    m_figures.welcomed = now;
    SendAfter(stream, committedThrough);
}

void CSimulatedAgent::Acked(int64_t committedThrough) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_acked = std::max(m_acked, committedThrough);
    for (auto row = m_unacked.begin(); row != m_unacked.end() && row->first <= committedThrough;) {
        const auto sent = m_firstSent.find(row->first);
        if (sent != m_firstSent.end()) {
            if (sent->second >= m_measureFrom) {
                m_figures.commitSeconds.push_back(Seconds(now - sent->second));
            }
            m_firstSent.erase(sent);
        }
        row = m_unacked.erase(row);
    }
}

// Each task is stored as a row and answered with that row's sequence; a recovery-data query finds
// the product holding nothing more, which confirms what the server escrowed.
void CSimulatedAgent::TaskArrived(CStream* stream, const quil::link::v1::Task& task) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (task.line().find(kRecoveryResponse) != std::string::npos && m_figures.escrowSeconds < 0 &&
        m_escrowSent != Clock::time_point()) {
        m_figures.escrowSeconds = Seconds(now - m_escrowSent);
    }
    // The server hands the line on with the task's ids added.
    if (task.line().find(kMarkedKind) != std::string::npos && m_figures.taskToAll == Clock::time_point()) {
        m_figures.taskToAll = now;
    }
    MakeRow(kTaskResult, "{\"task\":" + std::to_string(task.id()) + "}");
    const int64_t sequence = m_last;
    if (task.line().find(kRecoveryQuery) != std::string::npos) {
        MakeRow(kRecoveryRequest, "{}");
    }
    AgentMessage answer;
    answer.mutable_task_answer()->set_id(task.id());
    answer.mutable_task_answer()->set_ok(true);
    answer.mutable_task_answer()->set_answer("{\"ok\":true,\"sequence\":" + std::to_string(sequence) + "}");
    if (m_connected && m_stream.get() == stream) {
        SendAfter(stream, m_sentThrough);
        stream->Write(std::move(answer));
    }
}

void CSimulatedAgent::Ended(CStream* stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stream.get() != stream) {
        return;
    }
    m_ended.push_back(std::move(m_stream));
    m_connected = false;
    m_sentThrough = m_acked;
    m_connectAt = Clock::now() + m_backoff.Next();
}

void CSimulatedAgent::Quiet() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quiet = true;
}

void CSimulatedAgent::Stop() {
    std::shared_ptr<CStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        stream = m_stream;
    }
    if (stream) {
        stream->Cancel();
    }
}

bool CSimulatedAgent::IsConnected() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

bool CSimulatedAgent::IsIdle() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stream && std::all_of(m_ended.begin(), m_ended.end(), [](auto& s) { return s->Finished(); });
}

int64_t CSimulatedAgent::Last() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

int64_t CSimulatedAgent::Acknowledged() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_acked;
}

void CSimulatedAgent::MeasureFrom(Clock::time_point start) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_measureFrom = start;
    m_figures.commitSeconds.clear();
}

std::vector<double> CSimulatedAgent::WaitingSeconds() {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<double> waiting;
    for (const auto& sent : m_firstSent) {
        if (sent.second >= m_measureFrom) {
            waiting.push_back(Seconds(now - sent.second));
        }
    }
    return waiting;
}

CSimulatedAgent::Figures CSimulatedAgent::TakeFigures() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Figures figures = m_figures;
    m_figures.commitSeconds.clear();
    return figures;
}

}  // namespace QuilBench
