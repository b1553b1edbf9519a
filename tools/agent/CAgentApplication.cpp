#include "tools/agent/CAgentApplication.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <boost/algorithm/string/trim.hpp>
#include <boost/make_shared.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cstring>
#include <iostream>
#include <sstream>

#include "tools/agent/CAgentBus.h"
#include "tools/agent/CAgentHost.h"
#include "tools/agent/CAgentLogger.h"
#include "tools/agent/CAgentStore.h"
#include "tools/agent/CConsoleInput.h"
#include "tools/agent/CControlServer.h"
#include "tools/agent/CEscrowRetention.h"
#include "tools/agent/CMessageEncoder.h"
#include "tools/agent/CSecretWiper.h"

namespace Zun {
namespace Tools {
namespace Agent {

const std::chrono::milliseconds CAgentApplication::kGrace(5000);

namespace {

const char* const kSource = "quil-agent";

std::string NewUuid() {
    static boost::mutex lock;
    static boost::uuids::random_generator generator;
    boost::lock_guard<boost::mutex> guard(lock);
    return boost::uuids::to_string(generator());
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

int CAgentApplication::Run() {
    CConsoleInput console;
    if (!console.SetupError().empty()) {
        std::cerr << "quil-agent: " << console.SetupError() << "\n";
        return 1;
    }
    try {
        Open();
    } catch (const std::exception& e) {
        m_logger ? Log(e.what(), 4) : void(std::cerr << "quil-agent: " << e.what() << "\n");
        Close();
        return 1;
    }
    Serve(console);
    return Close();
}

void CAgentApplication::Open() {
    CAgentStore::Limits limits;
    limits.keepRows = m_options.keepRows;
    limits.keepDays = m_options.keepDays;
    m_store.reset(new CAgentStore(m_options.database, CAgentStore::Mode::Create, limits));
    m_logger = boost::make_shared<CAgentLogger>(std::cerr, m_options.logFile,
                                                static_cast<uint64_t>(m_options.logMaxBytes));
    for (const std::string& notice : m_store->TakeNotices()) {
        Log(notice, 3);
    }
    const std::string instance = m_store->InstanceUUID(&NewUuid);
    m_bus = boost::make_shared<CAgentBus>(
        [this](const CAgentBus::MessagePtr& m, const CAgentBus::ContextPtr& c) { Record(m, c); }, *m_logger,
        [this](const std::function<void()>& recordAll) { m_store->InTransaction(recordAll); });
    m_bus->Start();
    m_control.reset(new CControlServer(
        m_options.control, [this](const std::string& line) { return HandleTask(line, "control"); },
        *m_logger));
    // A second agent on the same socket must fail before its module publishes anything.
    m_control->Bind();
    m_host.reset(new CAgentHost(m_bus, m_logger, instance));
    m_host->Load(m_options.module);
    m_host->Start();
    m_control->Start();
    Log("Agent " + instance + " running: database " + m_options.database +
            (CControlServer::IsAvailable() ? ", control socket " + m_options.control
                                           : ", tasks from standard input only"),
        2);
}

void CAgentApplication::Serve(CConsoleInput& console) {
    while (true) {
        std::string detail;
        switch (console.Wait(m_input, detail)) {
            case CConsoleInput::Event::Input:
                TakeInputLines();
                break;
            case CConsoleInput::Event::InputClosed:
                TakeInputLine(m_input);  // a last line without its line end
                m_input.clear();
                if (!CControlServer::IsAvailable()) {
                    Log("Standard input closed; stopping, as no control channel takes tasks here", 2);
                    return;
                }
                Log("Standard input closed; tasks come from the control socket only", 1);
                break;
            case CConsoleInput::Event::Stop:
                Log(detail, 2);
                return;
            case CConsoleInput::Event::Failed:
                Log(detail, 4);
                return;
        }
    }
}

void CAgentApplication::TakeInputLines() {
    size_t end;
    while ((end = m_input.find('\n')) != std::string::npos) {
        const std::string line = m_input.substr(0, end);
        m_input.erase(0, end + 1);
        // The tail of an overlong line is no task of its own.
        m_skippingInput ? void(m_skippingInput = false) : TakeInputLine(line);
    }
    if (m_input.size() > CControlServer::kMaxLine) {
        m_input.clear();
        m_skippingInput = true;
        std::cout << Refusal("line longer than " + std::to_string(CControlServer::kMaxLine) + " bytes")
                  << std::endl;
    }
}

void CAgentApplication::TakeInputLine(const std::string& line) {
    if (!m_skippingInput && !boost::algorithm::trim_copy(line).empty()) {
        std::cout << HandleTask(line, "stdin") << std::endl;
    }
}

std::string CAgentApplication::HandleTask(const std::string& line, const std::string& source) {
    try {
        const CTaskParser::Task task = m_parser->Parse(line);
        m_bus->Publish(task.message, boost::make_shared<Common::Kernel::CUserContext>(source));
        Poco::JSON::Object reply(Poco::JSON_PRESERVE_KEY_ORDER);
        reply.set("ok", true);
        reply.set("task", task.name);
        reply.set("type", static_cast<Poco::UInt32>(task.message->GetType()));
        reply.set("describe", task.message->Describe());
        Poco::JSON::Array::Ptr ids = new Poco::JSON::Array;
        for (const std::string& id : task.ids) {
            ids->add(id);
        }
        reply.set("ids", ids);
        Log("Published task " + task.name + " from " + source, 2);
        return Stringify(reply);
    } catch (const std::exception& e) {
        Log("Refused a task from " + source + ": " + e.what(), 3);
        return Refusal(e.what());
    }
}

void CAgentApplication::Record(const boost::shared_ptr<Common::Kernel::IMessage>& message,
                               const boost::shared_ptr<Common::Kernel::CUserContext>& userContext) {
    CAgentStore::Record record = CMessageEncoder::Encode(*message, userContext);
    const int64_t sequence = m_store->Append(record);
    CSecretWiper::Wipe(record.payload);
    CEscrowRetention::Release(*m_store, *message);
    Log("Stored #" + std::to_string(sequence) + " " + message->Describe() + " (type " +
            std::to_string(message->GetType()) + ")",
        1);
}

int CAgentApplication::Close() {
    int code = 0;
    if (m_control) {
        m_control->Stop();
    }
    if (m_host && !m_host->Shutdown(kGrace)) {
        code = 2;
    }
    // Messages and subscribers of the module must go before its library does.
    if (m_bus) {
        m_bus->Stop();
        m_bus->DropSubscribers();
    }
    if (m_host) {
        m_host->Unload();
        Log("Agent stopped", 2);
    }
    m_control.reset();
    m_host.reset();
    m_bus.reset();
    return code;
}

void CAgentApplication::Log(const std::string& text, int level) {
    m_logger->Write(text, level, kSource);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
