#include "server/service/CFleetService.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Base64Encoder.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/UUIDGenerator.h>
#include <unistd.h>
#include <boost/thread/lock_guard.hpp>

#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>

#include "server/service/CComputerReadings.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;
using Tools::Agent::CAgentStore;
using Tools::Agent::CSecretWiper;

namespace {

// The agent's task that makes the module ask the product for its recovery data (kind 3).
const char* const kRecoveryQuery = "{\"task\":\"query\",\"kind\":3}";

const int kDebug = 0;
const int kInfo = 1;
const int kWarning = 2;
const char* const kRevealAction = "reveal";

std::string Base64(const std::string& bytes) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << bytes;
    encoder.close();
    return out.str();
}

std::string FromBase64(const std::string& text) {
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    std::string bytes((std::istreambuf_iterator<char>(decoder)), std::istreambuf_iterator<char>());
    return bytes;
}

std::string KindOf(const RecoveryItem& item) {
    return item.kind() == RecoveryItem::PASSWORD ? CFleetStore::kPassword : CFleetStore::kData;
}

// The "sequence" of the agent's answer: the task's own row in the agent's store.
int64_t AnsweredSequence(const std::string& answer) {
    try {
        Poco::JSON::Parser parser;
        const Poco::JSON::Object::Ptr json = parser.parse(answer).extract<Poco::JSON::Object::Ptr>();
        return json->optValue<Poco::Int64>("sequence", 0);
    } catch (const Poco::Exception&) {
        return 0;
    }
}

// The host, the process and a random part: unique among servers sharing a database, and readable in
// the computers table.
std::string NewServerId() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return std::string(host) + ":" + std::to_string(getpid()) + ":" +
           Poco::UUIDGenerator::defaultGenerator().createRandom().toString().substr(0, 8);
}

Poco::JSON::Array::Ptr Array(const std::vector<std::string>& items) {
    Poco::JSON::Array::Ptr array = new Poco::JSON::Array;
    for (const std::string& item : items) {
        array->add(item);
    }
    return array;
}

}  // namespace

CFleetService::CFleetService(CFleetStore& store, const CItemSealer& sealer, SerialCheck isCurrent, Log log)
    : m_store(store),
      m_sealer(sealer),
      m_isCurrent(std::move(isCurrent)),
      m_log(std::move(log)),
      m_serverId(NewServerId()) {
    const bool postgres = m_store.Database().Kind() == CServerDatabase::Engine::PostgreSQL;
    m_commits.reset(new CCommitQueue(
        postgres ? kPostgresWriters : 1, [this] { BindSession(); },
        [this](std::vector<CCommitQueue::Batch>& group) { CommitGroup(group); }));
}

// The writers commit what the link's workers handed over before they stopped.
CFleetService::~CFleetService() {
    m_commits->Stop();
}

void CFleetService::WorkerStarted() {
    BindSession();
}

// Without a session of its own the thread shares the database's first one: slower, still right.
void CFleetService::BindSession() {
    try {
        m_store.Database().BindThread();
    } catch (const std::exception& e) {
        m_log(kWarning, std::string("A thread shares the database session: ") + e.what());
    }
}

int64_t CFleetService::Connected(const std::string& computer, const std::string& certificateSerial,
                                 const quil::link::v1::Hello& hello, Wake wake) {
    if (!m_isCurrent(certificateSerial)) {
        m_log(kWarning,
              "Refused " + computer + ": certificate " + certificateSerial + " is revoked or unknown");
        throw std::runtime_error("certificate " + certificateSerial + " of " + computer +
                                 " is revoked or was not issued by this server");
    }
    CFleetStore::Computer record;
    record.name = computer;
    record.certificateSerial = certificateSerial;
    record.instanceUuid = hello.instance_uuid();
    record.agentVersion = hello.agent_version();
    record.lastSeen = CAgentStore::Now();
    record.connectedVia = m_serverId;
    const int64_t committed = m_store.Connected(record);
    RequeueUnanswered(computer);
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        Link& link = m_links[computer];
        link.wake = std::move(wake);
        ++link.streams;
    }
    m_log(kInfo, computer + " connected (agent " + hello.agent_version() + "), committed through " +
                     std::to_string(committed));
    return committed;
}

// Deliveries taken on an earlier connection and never answered are offered again; escrowed items
// whose recovery-response was never queued (the server stopped between commit and queue) or was
// refused get a new one.
void CFleetService::RequeueUnanswered(const std::string& computer) {
    m_store.RequeueTaken(computer);
    Response response;
    for (const CFleetStore::Item& item : m_store.Items(computer)) {
        if (item.state != CFleetStore::kEscrowed) {
            continue;
        }
        CFleetStore::Task task;
        const bool pending = item.confirmationTask != 0 && m_store.FindTask(item.confirmationTask, task) &&
                             task.state != CFleetStore::kAnswered;
        if (!pending) {
            response.items.push_back(item.id);
            (item.kind == CFleetStore::kPassword ? response.passwords : response.data)
                .push_back(item.internalId);
        }
    }
    QueueResponse(computer, response);
}

int64_t CFleetService::Commit(const std::string& computer, const std::vector<StoredRow>& rows) {
    std::vector<Response> responses;
    int64_t through = 0;
    m_store.Database().InTransaction(
        [&](Poco::Data::Session&) { through = CommitRows(computer, rows, responses); });
    QueueResponses(computer, responses);
    return through;
}

void CFleetService::CommitAsync(const std::string& computer, std::vector<StoredRow> rows, Committed done) {
    m_commits->Submit(CCommitQueue::Batch{computer, std::move(rows), std::move(done)});
}

// One transaction for the group, its computers locked in name order so that two writers never wait
// for each other in a circle. When it fails, each batch is tried alone, so that one computer's fault
// (rows of a computer that never connected) costs the others nothing but the time.
void CFleetService::CommitGroup(std::vector<CCommitQueue::Batch>& group) {
    std::stable_sort(
        group.begin(), group.end(),
        [](const CCommitQueue::Batch& a, const CCommitQueue::Batch& b) { return a.computer < b.computer; });
    std::vector<int64_t> through(group.size(), 0);
    std::vector<std::vector<Response>> responses(group.size());
    std::vector<std::string> errors(group.size());
    try {
        m_store.Database().InTransaction([&](Poco::Data::Session&) {
            for (std::size_t i = 0; i < group.size(); ++i) {
                responses[i].clear();
                through[i] = CommitRows(group[i].computer, group[i].rows, responses[i]);
            }
        });
    } catch (const std::exception& e) {
        m_log(kDebug,
              "A group of " + std::to_string(group.size()) + " commits failed, each alone now: " + e.what());
        for (std::size_t i = 0; i < group.size(); ++i) {
            responses[i].clear();
            try {
                m_store.Database().InTransaction([&](Poco::Data::Session&) {
                    through[i] = CommitRows(group[i].computer, group[i].rows, responses[i]);
                });
            } catch (const std::exception& alone) {
                errors[i] = alone.what();
                responses[i].clear();
            }
        }
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
        group[i].done(through[i], errors[i]);
    }
    std::vector<std::string> queuedFor;
    try {
        m_store.Database().InTransaction([&](Poco::Data::Session&) {
            queuedFor.clear();
            for (std::size_t i = 0; i < group.size(); ++i) {
                for (const Response& response : responses[i]) {
                    if (StoreResponse(group[i].computer, response)) {
                        queuedFor.push_back(group[i].computer);
                    }
                }
            }
        });
    } catch (const std::exception&) {
        queuedFor.clear();
        for (std::size_t i = 0; i < group.size(); ++i) {
            QueueResponses(group[i].computer, responses[i]);
        }
    }
    // Woken after the commit: a stream that looked earlier would not see the task.
    for (const std::string& computer : queuedFor) {
        WakeComputer(computer);
    }
}

int64_t CFleetService::CommitRows(const std::string& computer, const std::vector<StoredRow>& rows,
                                  std::vector<Response>& responses) {
    CFleetStore::Computer record;
    if (!m_store.LockComputer(computer, record)) {
        throw std::runtime_error("rows from " + computer + ", which never connected");
    }
    int64_t through = record.committedThrough;
    CFleetStore::Readings readings;
    for (const StoredRow& row : rows) {
        if (row.sequence() <= through) {
            continue;
        }
        CommitRow(computer, row, responses, readings);
        through = row.sequence();
    }
    m_store.SetCommittedThrough(computer, through, CAgentStore::Now(), readings);
    return through;
}

// Only what is committed is confirmed to the product, which then forgets it. The rows stay
// committed when queueing fails: the next connection queues a response for what is escrowed.
void CFleetService::QueueResponses(const std::string& computer, const std::vector<Response>& responses) {
    for (const Response& response : responses) {
        try {
            QueueResponse(computer, response);
        } catch (const std::exception& e) {
            m_log(kWarning, "Could not queue the recovery response for " + computer +
                                " (queued again when it reconnects): " + e.what());
        }
    }
}

void CFleetService::CommitRow(const std::string& computer, const StoredRow& row,
                              std::vector<Response>& responses, CFleetStore::Readings& readings) {
    CFleetStore::Row stored;
    stored.sequence = row.sequence();
    stored.time = row.time();
    stored.type = row.type();
    stored.className = row.class_name();
    stored.description = row.description();
    stored.userContext = row.user_context();
    stored.content = row.content();
    if (!m_store.InsertRow(computer, stored, CAgentStore::Now())) {
        return;
    }
    CComputerReadings::Take(stored, readings);
    if (row.type() != kRecoveryRequest) {
        return;
    }
    ConfirmAbsent(computer, row);
    Response response;
    Escrow(computer, row, response);
    responses.push_back(response);
}

void CFleetService::Escrow(const std::string& computer, const StoredRow& row, Response& response) {
    for (const RecoveryItem& given : row.recovery_items()) {
        const std::string kind = KindOf(given);
        CFleetStore::Item item;
        if (!m_store.FindItem(computer, kind, given.internal_id(), item)) {
            item.computer = computer;
            item.kind = kind;
            item.internalId = given.internal_id();
            item.deviceId = given.device_id();
            item.index = given.index();
            item.sealed = Base64(m_sealer.Seal(
                given.secret(), CItemSealer::AssociatedData(computer, kind, given.internal_id())));
            item.rowSequence = row.sequence();
            item.state = CFleetStore::kEscrowed;
            item.escrowedAt = CAgentStore::Now();
            item.id = m_store.InsertItem(item);
            m_store.SupersedeOlder(item, item.escrowedAt);
            m_log(kInfo, "Escrowed " + kind + " " + item.internalId + " of device " + item.deviceId + " of " +
                             computer);
        }
        response.items.push_back(item.id);
        (kind == CFleetStore::kPassword ? response.passwords : response.data).push_back(item.internalId);
    }
}

// An item the product was told about and that a later request no longer lists is the product's
// confirmation that it received ours.
void CFleetService::ConfirmAbsent(const std::string& computer, const StoredRow& row) {
    std::set<std::pair<std::string, std::string>> listed;
    for (const RecoveryItem& given : row.recovery_items()) {
        listed.insert({KindOf(given), given.internal_id()});
    }
    for (const CFleetStore::Item& item : m_store.Items(computer)) {
        if (item.state == CFleetStore::kConfirmationSent && item.agentTaskSequence < row.sequence() &&
            listed.count({item.kind, item.internalId}) == 0) {
            m_store.Confirmed(item.id, CAgentStore::Now());
        }
    }
}

std::string CFleetService::ResponseLine(const Response& response) {
    Poco::JSON::Object line(Poco::JSON_PRESERVE_KEY_ORDER);
    line.set("task", "recovery-response");
    line.set("passwords", Array(response.passwords));
    line.set("data", Array(response.data));
    std::ostringstream out;
    line.stringify(out);
    return out.str();
}

void CFleetService::QueueResponse(const std::string& computer, const Response& response) {
    bool queued = false;
    m_store.Database().InTransaction(
        [&](Poco::Data::Session&) { queued = StoreResponse(computer, response); });
    if (queued) {
        WakeComputer(computer);
    }
}

bool CFleetService::StoreResponse(const std::string& computer, const Response& response) {
    if (response.items.empty()) {
        return false;
    }
    CFleetStore::Task task;
    task.computer = computer;
    task.line = ResponseLine(response);
    task.purpose = CFleetStore::kConfirmation;
    task.queuedAt = CAgentStore::Now();
    task.id = m_store.QueueTask(task);
    for (int64_t item : response.items) {
        m_store.SetConfirmationTask(item, task.id);
    }
    m_log(kDebug, "Queued task " + std::to_string(task.id) + " for " + computer + ": " + task.line);
    return true;
}

int64_t CFleetService::QueueTask(const std::string& computer, const std::string& line,
                                 const std::string& taskIds) {
    return QueueTasks({computer}, line, taskIds).front();
}

// A transaction per computer made a task for 10,000 of them wait 30 s for as many commits; in groups
// the whole fleet's tasks take some tens of commits and no agent waits long for its first group.
std::vector<int64_t> CFleetService::QueueTasks(const std::vector<std::string>& computers,
                                               const std::string& line, const std::string& taskIds) {
    std::vector<int64_t> ids;
    ids.reserve(computers.size());
    CFleetStore::Task task;
    task.line = line;
    task.purpose = CFleetStore::kAdministrator;
    task.taskIds = taskIds;
    for (std::size_t first = 0; first < computers.size(); first += kQueueGroup) {
        const std::size_t end = std::min(computers.size(), first + kQueueGroup);
        task.queuedAt = CAgentStore::Now();
        const std::vector<std::string> group(computers.begin() + first, computers.begin() + end);
        m_store.Database().InTransaction([&](Poco::Data::Session&) {
            const std::vector<int64_t> queued = m_store.QueueTasks(task, group);
            ids.insert(ids.end(), queued.begin(), queued.end());
            m_store.AnnounceTasks(m_serverId, group);
        });
        // Not the line: an activation carries the licence, which has no place in a log.
        const std::string with = taskIds.empty() ? std::string() : " (ids " + taskIds + ")";
        m_log(kInfo, end - first == 1
                         ? "Queued task " + std::to_string(ids.back()) + " for " + group.front() + with
                         : "Queued tasks " + std::to_string(ids[first]) + " to " +
                               std::to_string(ids.back()) + " for " + std::to_string(end - first) +
                               " computers" + with);
        for (std::size_t i = first; i < end; ++i) {
            WakeComputer(computers[i]);
        }
    }
    return ids;
}

std::vector<IAgentLinkHandler::Delivery> CFleetService::TakeDeliveries(const std::string& computer) {
    std::vector<Delivery> deliveries;
    for (const CFleetStore::Task& task : m_store.TakeQueued(computer, CAgentStore::Now())) {
        deliveries.push_back(Delivery{task.id, task.line});
    }
    return deliveries;
}

void CFleetService::Answered(const std::string& computer, const quil::link::v1::TaskAnswer& answer) {
    CFleetStore::Task task;
    if (!m_store.FindTask(answer.id(), task) || task.computer != computer) {
        m_log(kWarning,
              computer + " answered task " + std::to_string(answer.id()) + ", which is not its own");
        return;
    }
    const int64_t sequence = answer.ok() ? AnsweredSequence(answer.answer()) : 0;
    const std::string time = CAgentStore::Now();
    const bool confirmation = answer.ok() && task.purpose == CFleetStore::kConfirmation;
    m_store.Database().InTransaction([&](Poco::Data::Session&) {
        if (confirmation) {
            // Computer first, items after, as a commit takes them: otherwise each could hold what
            // the other waits for.
            CFleetStore::Computer locked;
            m_store.LockComputer(computer, locked);
        }
        m_store.Answer(task.id, answer.ok(), answer.answer(), sequence, time);
        if (confirmation) {
            m_store.ConfirmationSent(task.id, sequence, time);
            QueueVerification(computer, time);
        }
    });
    m_log(answer.ok() ? kInfo : kWarning,
          computer + " answered task " + std::to_string(task.id) + ": " + answer.answer());
    if (confirmation) {
        WakeComputer(computer);
    }
}

// The product says which items it still holds only when asked for its recovery data: the agent
// asks once the confirmation is stored behind it, so that the reply that follows tells whether the
// product took the confirmation (the items are gone) or not.
void CFleetService::QueueVerification(const std::string& computer, const std::string& time) {
    CFleetStore::Task task;
    task.computer = computer;
    task.line = kRecoveryQuery;
    task.purpose = CFleetStore::kVerification;
    task.queuedAt = time;
    m_store.QueueTask(task);
}

// A stream that ends after a newer one of the computer connected leaves the computer connected.
void CFleetService::Disconnected(const std::string& computer, const std::vector<int64_t>& unanswered) {
    bool last = true;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        const auto found = m_links.find(computer);
        if (found != m_links.end() && --found->second.streams > 0) {
            last = false;
        } else {
            m_links.erase(computer);
        }
    }
    if (last) {
        m_store.Disconnected(computer, m_serverId, CAgentStore::Now());
        m_log(kInfo, computer + " disconnected");
    }
    OfferAgain(computer, unanswered);
}

// A stream can take deliveries after the computer's newer stream connected and offered the
// unanswered ones again: a wake posted to the old stream just before the agent reconnected. Those
// would wait for the next connection; they are queued again now and the stream serving the
// computer, on this server or another, is woken.
void CFleetService::OfferAgain(const std::string& computer, const std::vector<int64_t>& unanswered) {
    if (unanswered.empty()) {
        return;
    }
    bool requeued = false;
    m_store.Database().InTransaction([&](Poco::Data::Session&) {
        requeued = m_store.RequeueTasks(computer, unanswered) > 0;
        if (requeued) {
            m_store.AnnounceTasks(m_serverId, {computer});
        }
    });
    if (requeued) {
        WakeComputer(computer);
    }
}

bool CFleetService::IsConnected(const std::string& computer) const {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_links.count(computer) != 0;
}

void CFleetService::WakeComputer(const std::string& computer) {
    Wake wake;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        const auto found = m_links.find(computer);
        if (found == m_links.end()) {
            return;
        }
        wake = found->second.wake;
    }
    wake();
}

void CFleetService::WakeAll() {
    std::vector<Wake> wakes;
    {
        boost::lock_guard<boost::mutex> guard(m_lock);
        for (const auto& link : m_links) {
            wakes.push_back(link.second.wake);
        }
    }
    for (const Wake& wake : wakes) {
        wake();
    }
}

std::vector<CFleetService::Revealed> CFleetService::Reveal(const std::string& computer,
                                                           const std::string& device,
                                                           const Requester& requester,
                                                           const std::string& reason) {
    if (reason.find_first_not_of(" \t") == std::string::npos) {
        throw std::invalid_argument("a reveal needs a reason");
    }
    std::vector<CFleetStore::Item> chosen;
    std::string names;
    for (const CFleetStore::Item& item : m_store.Items(computer)) {
        if (item.kind == CFleetStore::kPassword && (device.empty() || item.deviceId == device)) {
            chosen.push_back(item);
            names += (names.empty() ? "" : " ") + item.internalId;
        }
    }
    if (chosen.empty()) {
        throw std::invalid_argument("no recovery password of " + computer +
                                    (device.empty() ? "" : " for device " + device) + " is escrowed");
    }
    CFleetStore::AuditEntry entry{
        0, CAgentStore::Now(), requester.user, requester.uid, kRevealAction, computer, names, reason};
    m_store.Database().InTransaction([&](Poco::Data::Session&) { m_store.AppendAudit(entry); });
    m_log(kInfo, requester.user + " (uid " + std::to_string(requester.uid) + ") revealed " + names + " of " +
                     computer + ": " + reason);
    std::vector<Revealed> revealed;
    for (const CFleetStore::Item& item : chosen) {
        std::string sealed = FromBase64(item.sealed);
        revealed.push_back(Revealed{
            item.internalId, item.deviceId, item.index, item.state,
            m_sealer.Open(sealed, CItemSealer::AssociatedData(computer, item.kind, item.internalId))});
    }
    return revealed;
}

}  // namespace Server
}  // namespace Zun
