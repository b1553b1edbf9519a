#pragma once

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/make_shared.hpp>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "channel/IChannel.h"
#include "core/CRetryException.h"
#include "core/IInstanceUUIDProvider.h"
#include "core/ILogger.h"
#include "core/IMessagePublisher.h"
#include "host/CTask.h"
#include "logs/CStatusLogBase.h"
#include "logs/CSymbolContainer.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"

// Stand-ins for what the module hands a task, and replies framed the way the product frames them.
namespace TasksTest {

using namespace Zun::Connectors::Common;
typedef std::vector<uint8_t> Bytes;
typedef boost::shared_ptr<Zun::Common::Kernel::IMessage> MessagePtr;
// One symbol per entry, "<id> <kind>:<value>"; a time within a minute of now reads "time:now".
typedef std::vector<std::string> Row;

const std::string Instance = "0f8fad5b-d9cb-469f-a165-70867728950e";
const int64_t ConnectorId = 0x071000000000081BLL;
const std::string Ids =
    "11111111-1111-1111-1111-111111111111;22222222-2222-2222-2222-222222222222;"
    "33333333-3333-3333-3333-333333333333";

inline std::string UInt32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// {header size 12, status 0, body length} and the body.
inline Bytes Reply(const std::string& body, size_t bodyLength = std::string::npos) {
    const std::string bytes = UInt32(12) + UInt32(0) +
                              UInt32(uint32_t(bodyLength == std::string::npos ? body.size() : bodyLength)) +
                              body;
    return Bytes(bytes.begin(), bytes.end());
}

template <typename Task>
boost::shared_ptr<Task> Identified(const boost::shared_ptr<Task>& task) {
    task->SetTaskIdentifiers("11111111-1111-1111-1111-111111111111", "22222222-2222-2222-2222-222222222222",
                             "33333333-3333-3333-3333-333333333333");
    return task;
}

struct CRecordingLogger : ILogger {
    CLogEntry Log(int severity) override {
        return CLogEntry(severity, [this](int level, const std::string& text) {
            lines.push_back({level, text});
        });
    }
    std::vector<std::pair<int, std::string>> lines;
};

struct CRecordingPublisher : Zun::Common::Module::IMessagePublisher {
    void Publish(const MessagePtr& message) override { published.push_back(message); }
    // The message published at index, expected of class T and of the type given, and read-only.
    template <typename T>
    boost::shared_ptr<T> At(size_t index, Zun::Common::Kernel::MessageType type) const {
        const auto typed = boost::dynamic_pointer_cast<T>(published.at(index));
        EXPECT_TRUE(typed && typed->GetType() == type && typed->IsReadOnly()) << "message " << index;
        return typed ? typed : throw std::runtime_error("published message of another class");
    }
    std::vector<MessagePtr> published;
};

struct CFixedInstance : IInstanceUUIDProvider {
    std::string GetInstanceUUID() override { return Instance; }
};

// Answers each request with the next scripted outcome; an exhausted script fails like a dead product.
struct CScriptedChannel : IChannel {
    struct Sent {
        Bytes payload;
        bool hadReceiver;
        uint32_t Command() const {
            return payload[8] | payload[9] << 8 | payload[10] << 16 | payload[11] << 24;
        }
        std::string Body() const { return std::string(payload.begin() + 12, payload.end()); }
    };

    void Answer(const Bytes& reply) {
        script.push_back([reply] { return reply; });
    }
    template <typename E>
    void Fail(const E& failure) {
        script.push_back([failure]() -> Bytes { throw failure; });
    }
    void Start() override {}
    void Stop() override {}
    void SetBufferReceiver(const boost::shared_ptr<IBufferReceiver>& r) override { receiver = r; }
    void SendRequest(const Bytes& payload) override {
        sent.push_back({payload, receiver != nullptr});
        if (script.empty()) {
            throw std::runtime_error("Product does not answer");
        }
        const std::function<Bytes()> next = script.front();
        script.pop_front();
        const Bytes reply = next();
        if (receiver) {
            receiver->Receive(reply);
        }
    }

    std::deque<std::function<Bytes()>> script;
    std::vector<Sent> sent;
    boost::shared_ptr<IBufferReceiver> receiver;
};

inline std::string Describe(const Zun::Common::DataDefinition::Common::MultiDataType& v) {
    char hex[24];
    snprintf(hex, sizeof(hex), "%llx",
             static_cast<unsigned long long>(v.val_res_id_size() ? v.val_res_id(0) : 0));
    if (v.val_time_date_size() > 0) {
        const auto at = Zun::Common::Logs::CSymbolContainer::ToTimePoint(v.val_time_date(0));
        const auto age = boost::posix_time::second_clock::universal_time() - at;
        const bool now = !age.is_negative() && age < boost::posix_time::minutes(1);
        return now ? "time:now" : "time:" + boost::posix_time::to_simple_string(at);
    }
    return v.val_int_size()      ? "int:" + std::to_string(v.val_int(0))
           : v.val_res_id_size() ? std::string("res:") + hex
           : v.val_bool_size()   ? std::string("bool:") + (v.val_bool(0) ? "1" : "0")
           : v.val_string_size() ? "str:" + v.val_string(0)
           : v.val_uuid_size()   ? "uuid:" + v.val_uuid(0).uuid()
           : v.val_blob_size()   ? "blob:" + v.val_blob(0)
                                 : "none";
}

inline Row operator+(Row head, const Row& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline Row Symbols(const Zun::Common::Logs::ISymbolContainer& container) {
    Row row;
    for (size_t i = 0; i < container.GetCount(); ++i) {
        row.push_back(std::to_string(container.GetSymbolIdAt(i)) + " " + Describe(container.GetSymbolAt(i)));
    }
    return row;
}

inline std::vector<Row> Rows(const Zun::Common::Message::Logs::CStatusLogBase& log) {
    std::vector<Row> rows;
    for (size_t r = 0; r < log.GetRows()->GetRowCount(); ++r) {
        rows.push_back(Symbols(*log.GetRows()->GetRow(r)));
    }
    return rows;
}

// What every task needs from the module, a scripted product and the real message factory.
struct CFakeModule {
    boost::shared_ptr<CScriptedChannel> channel = boost::make_shared<CScriptedChannel>();
    boost::shared_ptr<CRecordingLogger> logger = boost::make_shared<CRecordingLogger>();
    boost::shared_ptr<CRecordingPublisher> publisher = boost::make_shared<CRecordingPublisher>();
    boost::shared_ptr<CFixedInstance> instance = boost::make_shared<CFixedInstance>();
    boost::shared_ptr<IChannelMessageFactory> factory =
        boost::make_shared<Pixlink::Messages::CPixlinkMessageFactory>();
};

// What the action threw, as "retry: <text>", "restart: <text>" or "other: <text>"; "ok" if nothing.
template <typename Action>
std::string Outcome(Action action) {
    try {
        action();
    } catch (const CRetryException& e) {
        return std::string(e.IsRestart() ? "restart: " : "retry: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "ok";
}

}  // namespace TasksTest
