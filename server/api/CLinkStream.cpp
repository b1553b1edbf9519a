#include "server/api/CLinkStream.h"

#include <exception>

#include "server/api/CPeerCertificate.h"
#include "server/api/CWorkPool.h"
#include "server/service/IAgentLinkHandler.h"

namespace Zun {
namespace Server {

using quil::link::v1::AgentMessage;
using quil::link::v1::ServerMessage;

namespace {

const int kDebug = 0;
const int kInfo = 1;
const int kWarn = 2;
const int kError = 3;
const char* const kCommonName = "x509_common_name";
const char* const kPeerCertificate = "x509_pem_cert";
// Calls of one stream run back to back up to this many before other streams get the pool.
const int kWorkPerTurn = 16;

std::string FirstValue(const grpc::AuthContext& context, const char* property) {
    const std::vector<grpc::string_ref> values = context.FindPropertyValues(property);
    return values.empty() ? std::string() : std::string(values.front().data(), values.front().size());
}

}  // namespace

CLinkStream::CLinkStream(IAgentLinkHandler& handler, CWorkPool& pool, const CLinkServer::Log& log)
    : m_handler(handler), m_pool(pool), m_log(log) {}

CLinkStream* CLinkStream::Open(grpc::CallbackServerContext* context, IAgentLinkHandler& handler,
                               CWorkPool& pool, const CLinkServer::Log& log) {
    std::shared_ptr<CLinkStream> stream(new CLinkStream(handler, pool, log));
    stream->m_self = stream;
    stream->Begin(context);
    return stream.get();
}

void CLinkStream::Begin(grpc::CallbackServerContext* context) {
    m_peer = context->peer();
    if (Identify(context)) {
        Read();
    }
}

// The name and serial come from the certificate TLS verified; a stream without one is no agent's.
bool CLinkStream::Identify(grpc::CallbackServerContext* context) {
    const std::shared_ptr<const grpc::AuthContext> auth = context->auth_context();
    std::string reason;
    if (!auth || !auth->IsPeerAuthenticated()) {
        reason = "no verified client certificate";
    } else {
        m_computer = FirstValue(*auth, kCommonName);
        try {
            m_serial = CPeerCertificate::SerialOf(FirstValue(*auth, kPeerCertificate));
        } catch (const std::exception& e) {
            reason = e.what();
        }
        if (reason.empty() && m_computer.empty()) {
            reason = "the client certificate names no computer (no common name)";
        }
    }
    if (reason.empty()) {
        return true;
    }
    m_log(kWarn, "Refused a link from " + m_peer + ": " + reason);
    Close(grpc::Status(grpc::StatusCode::UNAUTHENTICATED, reason));
    return false;
}

std::string CLinkStream::Who() const {
    return m_computer + " (certificate " + m_serial + ", " + m_peer + ")";
}

// Work for a stream may run after its end: a Connect queued behind thousands of others on a loaded
// server, say. A read started once gRPC is done with the stream would reach a freed call.
void CLinkStream::Read() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || m_done) {
            return;
        }
    }
    StartRead(&m_incoming);
}

void CLinkStream::OnReadDone(bool ok) {
    if (!ok) {
        // The agent closed its side or the connection broke: nothing more will come.
        Close(grpc::Status::OK);
        return;
    }
    TakeMessage();
}

void CLinkStream::TakeMessage() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool greeted = m_greeted;
    m_greeted = true;
    lock.unlock();
    if (!greeted) {
        if (!m_incoming.has_hello()) {
            m_log(kWarn, "Closed the link of " + Who() + ": it did not begin with Hello");
            Close(grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "the first message must be Hello"));
            return;
        }
        const quil::link::v1::Hello hello = m_incoming.hello();
        Post([this, hello] { Connect(hello); });
        return;  // reading goes on once the handler took the computer
    }
    switch (m_incoming.body_case()) {
        case AgentMessage::kRow:
            TakeRow();
            return;
        case AgentMessage::kTaskAnswer: {
            const quil::link::v1::TaskAnswer answer = m_incoming.task_answer();
            Post([this, answer] { Answer(answer); });
            Read();
            return;
        }
        default:
            m_log(kWarn, "Closed the link of " + Who() + ": an unexpected message after Hello");
            Close(grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "Hello may come only once, first"));
    }
}

void CLinkStream::TakeRow() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_pending.push_back(std::move(*m_incoming.mutable_row()));
    const bool post = !m_commitQueued;
    m_commitQueued = true;
    m_readPaused = m_pending.size() >= kMaxPendingRows;
    const bool read = !m_readPaused;
    lock.unlock();
    if (post) {
        Post([this] { CommitPending(); });
    }
    if (read) {
        Read();
    }
}

// Runs the stream's handler calls one after another on the pool.
void CLinkStream::Post(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_work.push_back(std::move(work));
    if (!m_working) {
        m_working = true;
        m_pool.Submit([self = shared_from_this()] { self->Drain(); });
    }
}

void CLinkStream::Drain() {
    for (int turn = 0; turn < kWorkPerTurn; ++turn) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_work.empty()) {
            m_working = false;
            return;
        }
        std::function<void()> work = std::move(m_work.front());
        m_work.pop_front();
        lock.unlock();
        work();
    }
    m_pool.Submit([self = shared_from_this()] { self->Drain(); });
}

void CLinkStream::Connect(const quil::link::v1::Hello& hello) {
    std::weak_ptr<CLinkStream> weak = shared_from_this();
    IAgentLinkHandler::Wake wake = [weak] {
        if (std::shared_ptr<CLinkStream> stream = weak.lock()) {
            stream->Post([stream] { stream->Deliver(); });
        }
    };
    int64_t committed = 0;
    try {
        committed = m_handler.Connected(m_computer, m_serial, hello, wake);
    } catch (const std::exception& e) {
        m_log(kWarn, "Refused " + Who() + ": " + e.what());
        Close(grpc::Status(grpc::StatusCode::PERMISSION_DENIED, e.what()));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = true;
    }
    m_log(kInfo, "Connected " + Who() + ", agent " + hello.agent_version() + "; rows committed through " +
                     std::to_string(committed));
    ServerMessage welcome;
    welcome.mutable_welcome()->set_computer(m_computer);
    welcome.mutable_welcome()->set_committed_through(committed);
    Send(welcome);
    Read();
    Deliver();
}

void CLinkStream::CommitPending() {
    std::vector<quil::link::v1::StoredRow> rows;
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        rows.swap(m_pending);
        m_commitQueued = !rows.empty();
        resume = m_readPaused && !m_closed;
        m_readPaused = false;
    }
    if (resume) {
        Read();
    }
    if (rows.empty()) {
        return;
    }
    const std::size_t count = rows.size();
    std::shared_ptr<void> hold = m_pool.Hold();
    m_handler.CommitAsync(
        m_computer, std::move(rows),
        [self = shared_from_this(), count, hold](int64_t through, const std::string& error) {
            self->Committed(count, through, error);
        });
}

// On whichever thread committed: what came meanwhile goes to the next commit.
void CLinkStream::Committed(std::size_t rows, int64_t through, const std::string& error) {
    if (!error.empty()) {
        // The agent comes back and resends from what was committed.
        m_log(kError, "Cannot commit the rows of " + Who() + ": " + error);
        Close(grpc::Status(grpc::StatusCode::UNAVAILABLE, "cannot commit: " + error));
        return;
    }
    m_log(kDebug, "Committed " + std::to_string(rows) + " rows of " + m_computer + " through " +
                      std::to_string(through));
    ServerMessage ack;
    ack.mutable_ack()->set_committed_through(through);
    Send(ack);
    bool more = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        more = !m_pending.empty() && !m_closed && !m_done;
        m_commitQueued = more;
    }
    if (more) {
        Post([this] { CommitPending(); });
    }
}

void CLinkStream::Deliver() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_connected || m_closed || m_done) {
            return;
        }
    }
    try {
        for (const IAgentLinkHandler::Delivery& delivery : m_handler.TakeDeliveries(m_computer)) {
            ServerMessage task;
            task.mutable_task()->set_id(delivery.id);
            task.mutable_task()->set_line(delivery.line);
            Send(task);
            m_unanswered.insert(delivery.id);
        }
    } catch (const std::exception& e) {
        m_log(kError, "Cannot take the deliveries of " + Who() + ": " + e.what());
    }
}

void CLinkStream::Answer(const quil::link::v1::TaskAnswer& answer) {
    m_unanswered.erase(answer.id());
    try {
        m_handler.Answered(m_computer, answer);
    } catch (const std::exception& e) {
        m_log(kError, "Cannot keep the answer to task " + std::to_string(answer.id()) + " of " + Who() +
                          ": " + e.what());
    }
}

void CLinkStream::Send(const ServerMessage& message) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closed || m_done) {
        return;
    }
    m_outgoing.push_back(message);
    if (m_writing) {
        return;
    }
    m_writing = true;
    const ServerMessage* next = &m_outgoing.front();
    lock.unlock();
    StartWrite(next);
}

void CLinkStream::OnWriteDone(bool ok) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_outgoing.pop_front();
    if (!ok || m_outgoing.empty() || m_closed) {
        m_writing = false;
        return;
    }
    const ServerMessage* next = &m_outgoing.front();
    lock.unlock();
    StartWrite(next);
}

void CLinkStream::Close(const grpc::Status& status) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || m_done) {
            return;
        }
        m_closed = true;
    }
    Finish(status);
}

void CLinkStream::OnCancel() {
    Close(grpc::Status::CANCELLED);
}

void CLinkStream::OnDone() {
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
        connected = m_connected;
    }
    Post([this, connected] {
        if (connected) {
            End();
        }
        m_self.reset();  // the drain that runs this holds the last reference
    });
}

void CLinkStream::End() {
    try {
        m_handler.Disconnected(m_computer, std::vector<int64_t>(m_unanswered.begin(), m_unanswered.end()));
    } catch (const std::exception& e) {
        m_log(kError, "Disconnecting " + Who() + ": " + e.what());
    }
    m_log(kInfo, "Disconnected " + Who());
}

}  // namespace Server
}  // namespace Zun
