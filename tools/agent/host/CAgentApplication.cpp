#include "tools/agent/host/CAgentApplication.h"

#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/JSONString.h>
#include <boost/algorithm/string/trim.hpp>
#include <boost/make_shared.hpp>
#include <boost/uuid/detail/random_provider.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "QuilVersion.h"
#include "bus/CTaskHandOver.h"
#include "host/CTask.h"
#include "logs/CStatusLog.h"
#include "logs/CTaskResultEvent.h"
#include "tasks/CProtectionStatusRow.h"
#include "tools/agent/control/CConsoleInput.h"
#include "tools/agent/control/CControlServer.h"
#include "tools/agent/host/CAgentBus.h"
#include "tools/agent/host/CAgentHost.h"
#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/host/CAgentStatus.h"
#include "tools/agent/host/CJournalStream.h"
#include "tools/agent/host/CProcessHardening.h"
#include "tools/agent/host/CProductLocation.h"
#include "tools/agent/link/CLinkStore.h"
#include "tools/agent/link/CServerLinkLoader.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CEscrowRetention.h"
#include "tools/agent/store/CMessageEncoder.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

const std::chrono::milliseconds CAgentApplication::kGrace(CAgentOptions::kDefaultGraceMs);

namespace {

const char* const kSource = "quil-agent";
// The user context of what an earlier run left and this one settles.
const char* const kReplaySource = "restart";
const char* const kCanceledByRestart =
    "Message task was canceled because the agent stopped before the task finished";
const char* const kCanceledNotInstalled = "Message task was canceled because the product is not installed";
// How long a sender waits for its task to be stored.
const std::chrono::milliseconds kStoreWait(30000);
const int kExitForced = 2;
const CAgentLogger::Level kLevelDebug = CAgentLogger::Level::Debug;
const CAgentLogger::Level kLevelInfo = CAgentLogger::Level::Info;
const CAgentLogger::Level kLevelWarning = CAgentLogger::Level::Warn;
const CAgentLogger::Level kLevelError = CAgentLogger::Level::Error;
// The protection status row the module publishes when it cannot reach the product.
const uint32_t kProtectionStatus = 10044;
const int64_t kUnreachableLevel = 6;
const int64_t kUnreachableText = 0x0710000000000221LL;
const int64_t kUnreachableStatus = 0x00000001000000B3LL;
const uint32_t kProductCode = 29;
const int64_t kConnectorProductId = 0x071000000000081BLL;

// Random (version 4) UUIDs from the system's random source, read a few hundred identifiers' worth at
// a time: one system call per identifier cost more than the rest of a task's parsing.
std::string NewUuid() {
    static boost::mutex lock;
    static boost::uuids::detail::random_provider source;
    static unsigned char pool[16 * 256];
    static std::size_t used = sizeof pool;
    boost::uuids::uuid id;
    {
        boost::lock_guard<boost::mutex> guard(lock);
        if (used == sizeof pool) {
            source.get_random_bytes(pool, sizeof pool);
            used = 0;
        }
        std::memcpy(id.data, pool + used, sizeof id.data);
        std::memset(pool + used, 0, sizeof id.data);
        used += sizeof id.data;
    }
    id.data[6] = static_cast<unsigned char>((id.data[6] & 0x0F) | 0x40);  // version 4
    id.data[8] = static_cast<unsigned char>((id.data[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return boost::uuids::to_string(id);
}

std::string Stringify(const Poco::JSON::Object& object) {
    std::ostringstream out;
    object.stringify(out);
    return out.str();
}

std::string Refusal(const std::string& error) {
    Poco::JSON::Object reply(Poco::JSON_PRESERVE_KEY_ORDER);
    reply.set("ok", false);
    reply.set("error", error);
    return Stringify(reply);
}

}  // namespace

CAgentApplication::CAgentApplication(const CAgentOptions& options)
    : m_options(options), m_parser(new CTaskParser(&NewUuid)) {}

CAgentApplication::~CAgentApplication() {
    Close();
}

int CAgentApplication::Run(InputEnd inputEnd, const std::function<void()>& running) {
    const std::string unhardened = CProcessHardening::Apply();
    if (!unhardened.empty()) {
        std::cerr << "quil-agent: " << unhardened << "\n";
        return 1;
    }
    CConsoleInput console;
    if (!console.SetupError().empty()) {
        std::cerr << "quil-agent: " << console.SetupError() << "\n";
        return 1;
    }
    try {
        Open();
    } catch (const std::exception& e) {
        m_logger ? Log(e.what(), kLevelError) : void(std::cerr << "quil-agent: " << e.what() << "\n");
        Close();
        return 1;
    }
    if (running) {
        running();
    }
    Serve(console, inputEnd);
    return Close();
}

void CAgentApplication::Open() {
    CAgentStore::Limits limits;
    limits.keepRows = m_options.keepRows;
    limits.keepDays = m_options.keepDays;
    limits.keepUnsent = !m_options.server.empty();
    m_store.reset(new CAgentStore(
        m_options.database, CAgentStore::Mode::Create, limits,
        m_options.setAsideUnreadable ? CAgentStore::Unreadable::SetAside : CAgentStore::Unreadable::Refuse));
    m_logger = boost::make_shared<CAgentLogger>(
        std::cerr, m_options.logFile, static_cast<uint64_t>(m_options.logMaxBytes),
        CAgentLogger::ParseLevel(m_options.logLevel),
        CJournalStream::IsStandardError() ? CAgentLogger::Stream::Journal : CAgentLogger::Stream::Plain);
    for (const std::string& notice : m_store->TakeNotices()) {
        Log(notice, kLevelWarning);
    }
    m_instance = m_store->InstanceUUID(&NewUuid);
    const std::string& instance = m_instance;
    PrepareLink();
    m_bus = boost::make_shared<CAgentBus>(
        [this](const CAgentBus::MessagePtr& m, const CAgentBus::ContextPtr& c) { return Record(m, c); },
        *m_logger, [this](const std::function<void()>& recordAll) { m_store->InTransaction(recordAll); },
        [this](const CAgentBus::MessagePtr& m, int64_t sequence) { Stored(*m, sequence); });
    m_bus->TakeNotices(Common::Message::CTaskHandOver::Type,
                       [this](const CAgentBus::MessagePtr& notice) { NoteSending(*notice); });
    m_bus->Start();
    m_control.reset(new CControlServer(
        m_options.control,
        [this](const std::vector<std::string>& lines) { return HandleLines(lines, "control"); }, *m_logger));
    // A second agent on the same socket must fail before its module publishes anything.
    m_control->Bind();
    m_status =
        boost::make_shared<CAgentStatus>(*m_logger, CProductLocation::Describe(),
                                         [this](const std::string& reason) { NoteProductLost(reason); });
    m_host.reset(new CAgentHost(m_bus, m_status, instance, m_options.productAccount));
    m_host->Load(m_options.module);
    m_host->Start();
    m_tracking = true;
    SettleEarlierTasks();
    m_control->Start();
    StartLink();
    Log("Agent " + instance + " running: database " + m_options.database +
            (CControlServer::IsAvailable() ? ", control " + m_options.control
                                           : ", tasks from standard input only"),
        kLevelInfo);
}

void CAgentApplication::Serve(CConsoleInput& console, InputEnd inputEnd) {
    while (true) {
        std::string detail;
        switch (console.Wait(m_input, detail)) {
            case CConsoleInput::Event::Input:
                TakeInputLines();
                break;
            case CConsoleInput::Event::InputClosed:
                if (!m_skippingInput) {
                    AnswerInput({m_input});  // a last line without its line end
                }
                m_input.clear();
                if (inputEnd == InputEnd::Ignored) {
                    break;
                }
                if (!CControlServer::IsAvailable() || CConsoleInput::InputEndStopsRun()) {
                    Log("Standard input closed; stopping", kLevelInfo);
                    return;
                }
                Log("Standard input closed; tasks come from the control socket only", kLevelDebug);
                break;
            case CConsoleInput::Event::Stop:
                Log(detail, kLevelInfo);
                return;
            case CConsoleInput::Event::Reopen:
                ReopenLog(detail);
                break;
            case CConsoleInput::Event::Failed:
                Log(detail, kLevelError);
                return;
        }
    }
}

// The lines of one read are answered together, as their tasks are stored together.
void CAgentApplication::TakeInputLines() {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = m_input.find('\n', start)) != std::string::npos; start = end + 1) {
        // The tail of an overlong line is no task of its own; a line is measured whole, however
        // the reads cut it.
        if (m_skippingInput) {
            m_skippingInput = false;
        } else if (end - start > CControlServer::kMaxLine) {
            AnswerInput(lines);
            lines.clear();
            RefuseOverlongInput();
            m_skippingInput = false;
        } else {
            lines.push_back(m_input.substr(start, end - start));
        }
    }
    m_input.erase(0, start);
    AnswerInput(lines);
    // One answer for the whole line, however many chunks its tail still takes.
    if (m_input.size() > CControlServer::kMaxLine) {
        m_input.clear();
        if (!m_skippingInput) {
            RefuseOverlongInput();
        }
    }
}

void CAgentApplication::RefuseOverlongInput() {
    m_skippingInput = true;
    const std::string error = "line longer than " + std::to_string(CControlServer::kMaxLine) + " bytes";
    Log("Refused a task from stdin: " + error, kLevelWarning);
    std::cout << Refusal(error) << std::endl;
}

void CAgentApplication::AnswerInput(const std::vector<std::string>& lines) {
    std::vector<std::string> tasks;
    for (const std::string& line : lines) {
        if (!boost::algorithm::trim_copy(line).empty()) {
            tasks.push_back(line);
        }
    }
    if (tasks.empty()) {
        return;
    }
    std::string answers;
    for (const std::string& answer : HandleLines(tasks, "stdin")) {
        answers += answer;
        answers += '\n';
    }
    std::cout.write(answers.data(), static_cast<std::streamsize>(answers.size())).flush();
}

std::vector<std::string> CAgentApplication::HandleLines(const std::vector<std::string>& lines,
                                                        const std::string& source) {
    std::vector<std::string> answers(lines.size());
    std::vector<std::size_t> waiting;  // the lines whose tasks were published, in order
    std::vector<CTaskParser::Task> tasks;
    std::vector<CAgentBus::Publication> publications;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsStatusRequest(lines[i])) {
            std::ostringstream answer;
            m_status->Report(m_unfinished)->stringify(answer);
            answers[i] = answer.str();
            continue;
        }
        try {
            CTaskParser::Task task = m_parser->Parse(lines[i]);
            publications.push_back(Prepare(task, source));
            tasks.push_back(std::move(task));
            waiting.push_back(i);
        } catch (const std::exception& e) {
            Log("Refused a task from " + source + ": " + e.what(), kLevelWarning);
            answers[i] = Refusal(e.what());
        }
    }
    if (publications.empty()) {
        return answers;
    }
    const std::vector<CAgentBus::Receipt> receipts = m_bus->PublishAllRecorded(std::move(publications));
    const auto deadline = std::chrono::steady_clock::now() + kStoreWait;
    std::vector<std::string> published;
    for (std::size_t k = 0; k < waiting.size(); ++k) {
        answers[waiting[k]] = Answer(tasks[k], source, receipts[k], deadline, &published);
    }
    m_logger->WriteAll(published, kLevelInfo, kSource);
    return answers;
}

// {"op":"status"} asks about the agent; anything else is a task. A line that neither names "status"
// nor escapes a character cannot say so, and is not parsed twice.
bool CAgentApplication::IsStatusRequest(const std::string& line) {
    if (line.find("status") == std::string::npos && line.find('\\') == std::string::npos) {
        return false;
    }
    try {
        Poco::JSON::Parser parser;
        const auto object = parser.parse(line).extract<Poco::JSON::Object::Ptr>();
        return object->size() == 1 && object->optValue<std::string>("op", "") == "status";
    } catch (const Poco::Exception&) {
        return false;
    }
}

// The last protection status must not keep saying "all clear": the agent stores the module's own
// unreachable row, sent from the agent (user context quil-agent) so it can be told apart.
void CAgentApplication::NoteProductLost(const std::string& reason) {
    Log(reason + "; recording the product as not reachable", kLevelWarning);
    auto log = boost::make_shared<Common::Message::Logs::CStatusLog>(kProtectionStatus);
    Connectors::Common::Tasks::CProtectionStatusRow(m_instance, kProductCode, kConnectorProductId)
        .Add(*log->GetRows()->AddNewRow(), kUnreachableLevel,
             Connectors::Common::Tasks::CProtectionStatusRow::AllClearCategory, kUnreachableText,
             kUnreachableStatus);
    log->SetReadOnly();
    m_bus->Publish(log, boost::make_shared<Common::Kernel::CUserContext>(kSource));
}

// The link is made before the bus so that the bus may wake it from its first commit on.
void CAgentApplication::PrepareLink() {
    if (m_options.server.empty() && m_options.serverBundle.empty()) {
        return;
    }
    if (m_options.server.empty() || m_options.serverBundle.empty()) {
        throw std::runtime_error("a server link needs both server (HOST:PORT) and server-bundle (FILE)");
    }
    CServerLink::Settings settings;
    settings.server = m_options.server;
    settings.bundle = m_options.serverBundle;
    settings.agentVersion = QUIL_VERSION;
    settings.instance = m_instance;
    m_linkStore.reset(new CLinkStore(*m_store));
    m_link = CServerLinkLoader::Create(
        settings, *m_linkStore,
        [this](const std::string& line, const std::function<void()>& taken) {
            return HandleTask(line, "server", taken);
        },
        [this](const std::string& text, CAgentLogger::Level level) { Log(text, level); });
}

void CAgentApplication::StartLink() {
    if (m_link) {
        m_link->Start();
        Log("Server link to " + m_options.server + " started", kLevelInfo);
    }
}

// One task line of the server's: stored and answered like a line of the control socket, with
// `taken` run in the unit of work that stores it (the link keeps the task's id so).
std::string CAgentApplication::HandleTask(const std::string& line, const std::string& source,
                                          const std::function<void()>& taken) {
    try {
        const CTaskParser::Task task = m_parser->Parse(line);
        std::vector<CAgentBus::Publication> publications;
        publications.push_back(Prepare(task, source, taken));
        const std::vector<CAgentBus::Receipt> receipts = m_bus->PublishAllRecorded(std::move(publications));
        return Answer(task, source, receipts.front(), std::chrono::steady_clock::now() + kStoreWait);
    } catch (const std::exception& e) {
        Log("Refused a task from " + source + ": " + e.what(), kLevelWarning);
        return Refusal(e.what());
    }
}

// A task is answered only once its record and its line for a later run are committed together;
// `taken`, when given, runs in that unit of work too.
CAgentBus::Publication CAgentApplication::Prepare(const CTaskParser::Task& task, const std::string& source,
                                                  const std::function<void()>& taken) {
    if (m_options.maxQueuedTasks > 0 && m_unfinished >= static_cast<std::size_t>(m_options.maxQueuedTasks)) {
        throw std::runtime_error(std::to_string(m_unfinished.load()) +
                                 " tasks are waiting for the module already; try again later");
    }
    auto tracked = std::make_shared<TrackedTask>();
    CAgentBus::Publication publication;
    publication.hooks.recorded = [this, tracked, line = task.line, taken](int64_t recorded) {
        tracked->sequence = recorded;
        m_store->AddTask(recorded, line);
        if (taken) {
            taken();
        }
    };
    publication.hooks.delivering = HandingOver(tracked, task.keptByModule);
    publication.message = Tracked(task.message, tracked);
    publication.userContext = boost::make_shared<Common::Kernel::CUserContext>(source);
    return publication;
}

std::string CAgentApplication::Answer(const CTaskParser::Task& task, const std::string& source,
                                      const std::shared_future<int64_t>& receipt,
                                      std::chrono::steady_clock::time_point deadline,
                                      std::vector<std::string>* published) {
    int64_t sequence = -1;
    try {
        if (receipt.wait_until(deadline) != std::future_status::ready) {
            throw std::runtime_error("the task was not stored within " + std::to_string(kStoreWait.count()) +
                                     " ms; it may still run, look for it in the logs");
        }
        try {
            sequence = receipt.get();
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string("the task could not be stored: ") + e.what());
        }
    } catch (const std::exception& e) {
        Log("Refused a task from " + source + ": " + e.what(), kLevelWarning);
        return Refusal(e.what());
    }
    FailIfNoProduct(task);
    const std::string note =
        "Published task " + task.name + " from " + source + " as #" + std::to_string(sequence);
    published ? published->push_back(note) : Log(note, kLevelInfo);
    return Acknowledgement(task, sequence);
}

// {"ok":true,"task":…,"type":…,"describe":…,"ids":[…],"sequence":…}, written out directly: built as
// a JSON object it cost as much as parsing the task.
std::string CAgentApplication::Acknowledgement(const CTaskParser::Task& task, int64_t sequence) {
    std::string reply = "{\"ok\":true,\"task\":" + Poco::toJSON(task.name, Poco::JSON_WRAP_STRINGS) +
                        ",\"type\":" + std::to_string(static_cast<uint32_t>(task.message->GetType())) +
                        ",\"describe\":" + Poco::toJSON(task.message->Describe(), Poco::JSON_WRAP_STRINGS) +
                        ",\"ids\":[";
    for (std::size_t i = 0; i < task.ids.size(); ++i) {
        reply += (i == 0 ? "" : ",") + Poco::toJSON(task.ids[i], Poco::JSON_WRAP_STRINGS);
    }
    return reply + "],\"sequence\":" + std::to_string(sequence) + "}";
}

// A module that found no product subscribes to nothing and does not look again while it runs, so a
// task would be answered and then wait for ever. Rather than refuse it, the agent keeps it and fails
// it at once with its result event: that is where the management side, `send --wait` and `logs
// --task` look for a task's outcome, and the stored pair says why. A task without identifiers has no
// result event in any case and is kept as before.
void CAgentApplication::FailIfNoProduct(const CTaskParser::Task& task) {
    if (!task.ids.empty() && m_status && m_status->State() == CAgentStatus::Product::NotInstalled) {
        ReportFailed(
            task,
            std::string(kCanceledNotInstalled) + ": no ProductVersion in the " + CProductLocation::Describe(),
            kSource, CAgentBus::Hooks());
    }
}

// The module lets go of a task's message once its tasks have run (or failed for good): the last
// reference ending marks the task finished. Releases while the module stops prove nothing.
CTaskParser::MessagePtr CAgentApplication::Tracked(const CTaskParser::MessagePtr& message,
                                                   const TrackedTaskPtr& tracked) {
    ++m_unfinished;
    return CTaskParser::MessagePtr(message.get(), Release{this, message, tracked});
}

void CAgentApplication::Release::operator()(Common::Kernel::IMessage*) const {
    application->Released(tracked);
}

void CAgentApplication::Released(const TrackedTaskPtr& tracked) {
    if (m_tracking) {
        Finish(tracked, true);
    } else if (!tracked->finished.exchange(true)) {
        --m_unfinished;
    }
}

// Deferred, the row goes with the next messages the bus records, off the module's thread; else at
// once, in the bus's unit of work that calls it.
void CAgentApplication::Finish(const TrackedTaskPtr& tracked, bool deferred) {
    if (tracked->finished.exchange(true)) {
        return;
    }
    --m_unfinished;
    const int64_t finished = tracked->sequence;
    const auto work = [this, finished] {
        std::shared_lock<std::shared_mutex> guard(m_storeLock);
        if (m_storeOpen) {
            Guarded("finish task #" + std::to_string(finished), [&] { m_store->FinishTask(finished); });
        }
    };
    if (finished >= 0) {
        deferred ? m_bus->Defer(work) : work();
    }
}

// A policy is kept by the module, which applies the last one again after every reconnect and lets it
// go only for the next: once the module has it, the agent's part is done, and a restart must not
// hand it over again. Any other task stays until the module lets go of it; the module says when it
// sends the task to the product (NoteSending).
std::function<void()> CAgentApplication::HandingOver(const TrackedTaskPtr& tracked, bool keptByModule) {
    if (!keptByModule) {
        return std::function<void()>();
    }
    return [this, tracked] { Finish(tracked, false); };
}

// The module is about to send a task's first request to the product and goes on once this is noted,
// on its own thread: a task so marked may have reached the product, and a restart will not run it
// again. Until then it sits in the module's queue, and a restart delivers it again.
void CAgentApplication::NoteSending(const Common::Kernel::IMessage& notice) {
    const auto* handOver = dynamic_cast<const Common::Message::CTaskHandOver*>(&notice);
    const Release* release = handOver ? boost::get_deleter<Release>(handOver->GetTask()) : nullptr;
    if (release == nullptr || release->tracked->sequence < 0) {
        return;
    }
    const int64_t sequence = release->tracked->sequence;
    std::shared_lock<std::shared_mutex> guard(m_storeLock);
    if (m_storeOpen) {
        Guarded("note task #" + std::to_string(sequence) + " as sent to the product",
                [&] { m_store->MarkHanded(sequence); });
    }
}

// Tasks an earlier run answered but did not finish: one whose request never left for the product
// (stored, or still in the module's queue) is delivered now; one the module had begun to send may
// have reached the product already, so rather than risk running it twice it is reported canceled,
// as the server then expects to send it again.
void CAgentApplication::SettleEarlierTasks() {
    for (const CAgentStore::Task& stored : m_store->UnfinishedTasks()) {
        const std::string name = "task #" + std::to_string(stored.sequence);
        try {
            const CTaskParser::Task task = m_parser->Parse(stored.line, CTaskParser::Moment::Stored);
            if (stored.state == CAgentStore::TaskState::Handed && task.keptByModule) {
                SettleHanded(name, task, stored.sequence);
                continue;
            }
            if (stored.state == CAgentStore::TaskState::Handed && !task.ids.empty()) {
                ReportCanceled(task, stored.sequence);
                continue;
            }
            auto tracked = std::make_shared<TrackedTask>();
            tracked->sequence = stored.sequence;
            m_bus->Redeliver(Tracked(task.message, tracked),
                             boost::make_shared<Common::Kernel::CUserContext>(kReplaySource),
                             HandingOver(tracked, task.keptByModule));
            Log("Delivering " + name + " (" + task.name +
                    ") again: the last run stopped before it reached the product",
                kLevelInfo);
        } catch (const std::exception& e) {
            Log("Dropped " + name + " left by the last run: " + e.what(), kLevelWarning);
            Guarded("drop " + name, [&] { m_store->FinishTask(stored.sequence); });
        }
    }
}

// A task the module keeps that it already had: it ran, or the module held it until the end.
void CAgentApplication::SettleHanded(const std::string& name, const CTaskParser::Task& task,
                                     int64_t sequence) {
    Log("Not delivering " + name + " (" + task.name + ") again: the last run had handed it to the module",
        kLevelInfo);
    Guarded("settle " + name, [&] { m_store->FinishTask(sequence); });
}

void CAgentApplication::ReportCanceled(const CTaskParser::Task& task, int64_t sequence) {
    CAgentBus::Hooks hooks;
    hooks.recorded = [this, sequence](int64_t) { m_store->FinishTask(sequence); };
    ReportFailed(task, kCanceledByRestart, kReplaySource, hooks);
}

// A task result event for a task the module will not run: state 40, the cancellation code, and why.
void CAgentApplication::ReportFailed(const CTaskParser::Task& task, const std::string& text,
                                     const std::string& sender, const CAgentBus::Hooks& hooks) {
    const auto& ids = static_cast<const Common::Message::CTask&>(*task.message);
    Connectors::Common::CTaskResultEvent::Content content;
    content.connectorProductId = Connectors::Common::CTaskResultEvent::ConnectorProductId;
    content.instanceUUID = m_instance;
    content.first = ids.GetFirstId();
    content.second = ids.GetSecondId();
    content.third = ids.GetThirdId();
    content.code = Connectors::Common::CTaskResultEvent::CanceledCode;
    content.text = text;
    content.state = Connectors::Common::CTaskResultEvent::StateFailed;
    content.severity = Connectors::Common::CTaskResultEvent::SeverityError;
    m_bus->PublishRecorded(Connectors::Common::CTaskResultEvent::Build(content),
                           boost::make_shared<Common::Kernel::CUserContext>(sender), hooks);
    Log(text + ", message was: " + task.message->Describe(), kLevelError);
}

void CAgentApplication::Guarded(const std::string& what, const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        Log("Cannot " + what + ": " + e.what(), kLevelError);
    }
}

int64_t CAgentApplication::Record(const boost::shared_ptr<Common::Kernel::IMessage>& message,
                                  const boost::shared_ptr<Common::Kernel::CUserContext>& userContext) {
    CAgentStore::Record record = CMessageEncoder::Encode(*message, userContext);
    int64_t sequence = 0;
    try {
        sequence = CEscrowRetention::Store(*m_store, *message, record);
    } catch (...) {
        CSecretWiper::Wipe(record.payload);
        throw;
    }
    if (m_status) {
        m_status->Observe(record.type, record.content);
    }
    CSecretWiper::Wipe(record.payload);
    return sequence;
}

void CAgentApplication::Stored(const Common::Kernel::IMessage& message, int64_t sequence) {
    if (m_logger->IsWritten(kLevelDebug)) {
        Log("Stored #" + std::to_string(sequence) + " " + message.Describe() + " (type " +
                std::to_string(message.GetType()) + ")",
            kLevelDebug);
    }
    if (m_link) {
        m_link->Wake();
    }
}

int CAgentApplication::Close() {
    int code = 0;
    if (m_control) {
        m_control->Stop();
    }
    // Tasks from the server go through the bus: the link ends before it does.
    if (m_link) {
        m_link->Stop();
    }
    m_tracking = false;
    if (m_host && !m_host->Shutdown(std::chrono::milliseconds(m_options.graceMs))) {
        code = kExitForced;
        if (m_host->IsAbandoned()) {
            LeaveAbandonedModule();
        }
    }
    // Messages and subscribers of the module must go before its library does.
    if (m_bus) {
        m_bus->Stop();
        m_bus->DropSubscribers();
    }
    if (m_host) {
        m_host->Unload();
        Log("Agent stopped", kLevelInfo);
    }
    m_control.reset();
    m_link.reset();
    m_host.reset();
    m_bus.reset();
    return code;
}

// Threads of the module are still blocked inside its library: nothing of it may be destroyed or
// unloaded, so once what was published is stored the process ends here, without running
// destructors or exit handlers that would pull the library's state from under those threads.
void CAgentApplication::LeaveAbandonedModule() {
    m_bus->Stop();
    Log("Agent stopped; the module was left running", kLevelWarning);
    {
        std::lock_guard<std::shared_mutex> guard(m_storeLock);
        m_storeOpen = false;
    }
    m_store.reset();
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(kExitForced);
}

// After logrotate moved the file away: lines go to a fresh file of the same name from here on.
void CAgentApplication::ReopenLog(const std::string& detail) {
    Log(detail, kLevelInfo);
    Guarded("reopen the log file", [this] { m_logger->Reopen(); });
}

void CAgentApplication::Log(const std::string& text, CAgentLogger::Level level) {
    m_logger->Write(text, level, kSource);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
