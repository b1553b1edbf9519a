#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CLogDescriptorMap.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CHandOverMarks.h"
#include "tools/agent/store/CMessageEncoder.h"

namespace {

using namespace Zun::Common;
using Poco::JSON::Array;
using Poco::JSON::Object;
using Zun::Tools::Agent::CAgentCommands;
using Zun::Tools::Agent::CAgentOptions;
using Zun::Tools::Agent::CAgentStore;
using Zun::Tools::Agent::CMessageEncoder;
typedef Message::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest CRecoveryRequest;

const char* const kInstance = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string kPassword = "123456-654321-111111-222222-333333-444444-555555-666666";
const std::string kRecoveryData = std::string("\x01\x02SECRET-BLOCK\x00", 15);

class CAgentStoreTest : public ::testing::Test {
protected:
    CAgentStoreTest() : path(root.Path() + "/var/agent.db") {}

    int64_t Store(const Kernel::IMessage& message, const std::string& user = "") {
        CAgentStore store(path, CAgentStore::Mode::Create);
        return store.Append(CMessageEncoder::Encode(message, boost::make_shared<Kernel::CUserContext>(user)));
    }

    int Logs(std::string& out, std::string& errors, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"logs", "--db", path};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::ostringstream o, e;
        const int code = CAgentCommands::Logs(CAgentOptions::Parse(arguments), o, e);
        out = o.str();
        errors = e.str();
        return code;
    }

    std::vector<Object::Ptr> JsonLines() {
        std::string out, errors;
        EXPECT_EQ(0, Logs(out, errors, {"--json"})) << errors;
        std::vector<Object::Ptr> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(Poco::JSON::Parser().parse(line).extract<Object::Ptr>());
        }
        return lines;
    }

    Zun::Testing::CTemporaryObjectRoot root;
    std::string path;
};

Object::Ptr Symbol(const Object::Ptr& line, size_t row, size_t index) {
    return line->getArray("rows")->getArray(row)->getObject(index);
}

TEST_F(CAgentStoreTest, LogsKeepTheirRowsAsNamedSymbols) {
    Message::Logs::CStatusLog status(10044);
    status.GetRows()
        ->AddNewRow()
        ->AddInt32(241, 6)
        .AddUuid(235, kInstance)
        .AddResId(248, 0x00000001000000B3LL);
    boost::shared_ptr<Logs::ISymbolContainer> product(new Logs::CSymbolContainer());
    product->AddResId(4429, 0x071000000000081CLL);
    Message::Logs::CMultiProductStatusLog products(10405, product);
    Message::Logs::CEventLog event(10244);
    event.GetContainer()->AddBlob(1892, std::string(300, 'x')).AddString(3560, "a \"quoted\" text");
    for (auto* log : std::vector<Message::CLogMessage*>{&status, &products, &event}) {
        log->SetReadOnly();
        Store(*log, "stdin");
    }

    const auto lines = JsonLines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(10044, lines[0]->getValue<int>("type"));
    EXPECT_EQ(status.Describe(), lines[0]->getValue<std::string>("describe"));
    EXPECT_EQ("CStatusLog", lines[0]->getValue<std::string>("class"));
    EXPECT_EQ("stdin", lines[0]->getValue<std::string>("user_context"));
    const auto statusSymbol = Symbol(lines[0], 0, 0);
    EXPECT_EQ(241, statusSymbol->getValue<int>("id"));
    EXPECT_EQ(Logs::CLogDescriptorMap::Instance().GetSymbolName(241),
              statusSymbol->getValue<std::string>("name"));
    EXPECT_EQ(6, statusSymbol->getValue<int>("value"));
    EXPECT_EQ(kInstance, Symbol(lines[0], 0, 1)->getValue<std::string>("value"));
    EXPECT_EQ("0x00000001000000B3", Symbol(lines[0], 0, 2)->getValue<std::string>("value"));

    EXPECT_EQ(0u, lines[1]->getArray("rows")->size());
    EXPECT_EQ("0x071000000000081C",
              lines[1]->getArray("product")->getObject(0)->getValue<std::string>("value"));

    EXPECT_EQ(300, Symbol(lines[2], 0, 0)->getValue<int>("size"));
    EXPECT_EQ("a \"quoted\" text", Symbol(lines[2], 0, 1)->getValue<std::string>("value"));
}

TEST_F(CAgentStoreTest, RecoverySecretsAreStoredWholeButNeverShown) {
    CRecoveryRequest request;
    auto* password = request.MutableFDERecoveryData().add_recovery_passwords();
    password->set_deviceid("disk-0");
    password->set_index("7");
    password->set_recovery_password(kPassword);
    password->set_internalid("pw-1");
    auto* block = request.MutableFDERecoveryData().add_recovery_data_blocks();
    block->set_recovery_data(kRecoveryData);
    block->set_internalid("rd-1");
    request.SetReadOnly();
    const int64_t sequence = Store(request);

    CAgentStore store(path, CAgentStore::Mode::ReadOnly);
    CRecoveryRequest::Data kept;
    ASSERT_TRUE(kept.ParseFromString(store.Payload(sequence)));
    EXPECT_EQ(kPassword, kept.recovery_passwords(0).recovery_password());
    EXPECT_EQ(kRecoveryData, kept.recovery_data_blocks(0).recovery_data());

    for (const std::vector<std::string>& format : {std::vector<std::string>{}, {"--json"}}) {
        std::string out, errors;
        ASSERT_EQ(0, Logs(out, errors, format)) << errors;
        EXPECT_EQ(std::string::npos, out.find("SECRET")) << out;
        EXPECT_EQ(std::string::npos, out.find("654321")) << out;
        EXPECT_NE(std::string::npos, out.find("pw-1")) << "the ids the agent confirms stay visible";
        EXPECT_NE(std::string::npos, out.find(CMessageEncoder::Masked(kPassword.size()))) << out;
    }
}

TEST_F(CAgentStoreTest, FiltersByTypeAndTime) {
    Message::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode task;
    task.SetTaskIdentifiers("a", "b", "c");
    task.MutableEnableMaintenanceMode().set_bootcycles(3);
    Store(task);
    Store(CRecoveryRequest());
    const auto lines = JsonLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(3, lines[0]->getValue<int>("boots"));
    EXPECT_EQ("b", lines[0]->getArray("ids")->getElement<std::string>(1));

    std::string out, errors;
    ASSERT_EQ(0, Logs(out, errors, {"--type", "728", "--json"}));
    EXPECT_EQ(std::string::npos, out.find("\"type\":740"));
    EXPECT_NE(std::string::npos, out.find("\"type\":728"));
    ASSERT_EQ(0, Logs(out, errors, {"--since", lines[1]->getValue<std::string>("time"), "--json"}));
    EXPECT_NE(std::string::npos, out.find("\"type\":728"))
        << "a bound with milliseconds and 'Z' includes its row";
    ASSERT_EQ(0, Logs(out, errors, {"--since", "2000-01-01T00:00"}));
    EXPECT_NE(std::string::npos, out.find("EnableFDEMaintenanceMode")) << out;
    ASSERT_EQ(0, Logs(out, errors, {"--since", "2999-01-01"}));
    EXPECT_EQ("", out);
}

TEST_F(CAgentStoreTest, ATransactionKeepsWhatWasAppendedEvenWhenItsWorkFails) {
    CAgentStore store(path, CAgentStore::Mode::Create);
    const auto append = [&store] {
        store.Append(
            CMessageEncoder::Encode(CRecoveryRequest(), boost::make_shared<Kernel::CUserContext>("u")));
    };
    store.InTransaction([&] { append(), append(); });
    EXPECT_THROW(store.InTransaction([&] { append(), throw std::runtime_error("one message failed"); }),
                 std::runtime_error);
    CAgentStore reader(path, CAgentStore::Mode::ReadOnly);
    EXPECT_EQ(3u, reader.Query(CAgentStore::Filter()).size()) << "seen from another connection";
}

// The writes behind every message and task are kept prepared and reused: each use must bind its own
// values, and one that failed must leave nothing open that would hold up the next or the commit.
TEST_F(CAgentStoreTest, TaskRowsTakeTheirHandOverMarksAndAFailedWriteLeavesTheStoreUsable) {
    CAgentStore store(path, CAgentStore::Mode::Create);
    CAgentStore::Record plain, sealed;
    plain.description = "plain";
    sealed.description = "sealed";
    sealed.payload = kRecoveryData;
    int64_t first = 0, second = 0;
    store.InTransaction([&] {
        first = store.Append(plain);
        store.AddTask(first, "line one");
        second = store.Append(sealed);
        store.AddTask(second, "line two");
    });
    ASSERT_EQ(first + 1, second);
    EXPECT_THROW(store.AddTask(first, "the same row twice"), std::runtime_error);
    EXPECT_THROW(store.InTransaction([&] { store.AddTask(second, "again"); }), std::runtime_error);
    store.MarkHanded(second);
    store.MarkHanded(second);
    EXPECT_EQ(CAgentStore::TaskState::Handed, store.UnfinishedTasks()[1].state) << "before any commit";
    store.InTransaction([] {});
    EXPECT_TRUE(Zun::Tools::Agent::CHandOverMarks::Read(path + "-handed").empty()) << "the commit took them";
    const auto tasks = CAgentStore(path, CAgentStore::Mode::ReadOnly).UnfinishedTasks();
    ASSERT_EQ(2u, tasks.size());
    EXPECT_EQ("line one", tasks[0].line);
    EXPECT_EQ(CAgentStore::TaskState::Stored, tasks[0].state);
    EXPECT_EQ("line two", tasks[1].line);
    EXPECT_EQ(CAgentStore::TaskState::Handed, tasks[1].state);
    store.InTransaction([&] { store.FinishTask(first); });
    EXPECT_EQ(1u, store.UnfinishedTasks().size());
    EXPECT_EQ("", store.Payload(first));
    EXPECT_EQ(kRecoveryData, store.Payload(second));
    EXPECT_EQ(std::vector<int64_t>{second}, store.WithPayload(0)) << "no payload is NULL, not empty";
    EXPECT_EQ(second + 1, store.Append(plain));
    CAgentStore reader(path, CAgentStore::Mode::ReadOnly);
    EXPECT_EQ(3u, reader.Query(CAgentStore::Filter()).size());
    try {
        reader.Append(plain);
        ADD_FAILURE() << "a reader wrote";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("cannot store plain")) << e.what();
    }
}

std::vector<int64_t> Sorted(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    return values;
}

// The ring of hand-over marks: a slot is free again only once its mark is committed, and what is in
// the file, not in the object, is what the next run finds.
TEST_F(CAgentStoreTest, HandOverMarksWaitInTheFileUntilTheirCommitFreesThem) {
    const std::string file = root.Path() + "/marks";
    std::ofstream(file).close();
    Zun::Tools::Agent::CHandOverMarks marks(file, 3);
    for (int64_t sequence : {11, 12, 13}) {
        EXPECT_TRUE(marks.Mark(sequence)) << sequence;
    }
    EXPECT_FALSE(marks.Mark(14)) << "every slot waits for a commit";
    const auto pending = marks.Unfolded();
    EXPECT_EQ((std::vector<int64_t>{11, 12, 13}), pending.sequences);
    marks.Release(pending.through - 1);  // 11 and 12 committed, 13 not yet
    EXPECT_TRUE(marks.Mark(14));
    EXPECT_TRUE(marks.Mark(15));
    EXPECT_FALSE(marks.Mark(16));
    const std::vector<int64_t> waiting = {13, 14, 15};
    EXPECT_EQ(waiting, marks.Unfolded().sequences);
    EXPECT_EQ(waiting, Sorted(Zun::Tools::Agent::CHandOverMarks::Read(file)));
    EXPECT_EQ(waiting, Sorted(Zun::Tools::Agent::CHandOverMarks(file, 3).Left()))
        << "a later run finds what was not released";
}

// A mark is made without a commit and must still count when the agent dies right after it: a reader
// sees it meanwhile, the next writer puts it in the row, and a writer that marks faster than it
// commits makes room itself.
TEST_F(CAgentStoreTest, AHandOverMarkOutlivesItsWriterAndReachesTheRow) {
    const size_t many = Zun::Tools::Agent::CHandOverMarks::kSlots + 10;
    std::vector<int64_t> sequences;
    {
        CAgentStore store(path, CAgentStore::Mode::Create);
        store.InTransaction([&] {
            for (size_t i = 0; i < many; ++i) {
                sequences.push_back(store.Append(CAgentStore::Record()));
                store.AddTask(sequences.back(), "task");
            }
        });
        for (int64_t sequence : sequences) {
            store.MarkHanded(sequence);
        }
        store.MarkHanded(sequences.back() + 1000);  // no such task: nothing to mark
    }                                               // gone without a commit of the last marks, as if killed
    const auto handed = [](const std::vector<CAgentStore::Task>& tasks) {
        return static_cast<size_t>(std::count_if(
            tasks.begin(), tasks.end(),
            [](const CAgentStore::Task& task) { return task.state == CAgentStore::TaskState::Handed; }));
    };
    EXPECT_EQ(many, handed(CAgentStore(path, CAgentStore::Mode::ReadOnly).UnfinishedTasks()));
    EXPECT_EQ(many, handed(CAgentStore(path, CAgentStore::Mode::Create).UnfinishedTasks()));
    EXPECT_TRUE(Zun::Tools::Agent::CHandOverMarks::Read(path + "-handed").empty())
        << "once in the rows, the file forgets them";
    EXPECT_EQ(many, handed(CAgentStore(path, CAgentStore::Mode::ReadOnly).UnfinishedTasks()));
    EXPECT_THROW(CAgentStore(path, CAgentStore::Mode::ReadOnly).MarkHanded(sequences[0]), std::runtime_error);
}

// With every slot waiting and a transaction of the bus's open (a stalled disk), the marker waits for
// that transaction to end and then commits the marks itself: no mark is lost, none overwritten.
TEST_F(CAgentStoreTest, AMarkerWithEverySlotTakenWaitsForTheOpenTransaction) {
    const size_t slots = Zun::Tools::Agent::CHandOverMarks::kSlots;
    CAgentStore store(path, CAgentStore::Mode::Create);
    std::vector<int64_t> sequences;
    store.InTransaction([&] {
        for (size_t i = 0; i <= slots; ++i) {
            sequences.push_back(store.Append(CAgentStore::Record()));
            store.AddTask(sequences.back(), "task");
        }
    });
    std::exception_ptr markFailure;
    std::thread marker;
    const auto holdOpen = [&] {
        marker = std::thread([&] {
            try {
                for (int64_t sequence : sequences) {
                    store.MarkHanded(sequence);
                }
            } catch (...) {
                markFailure = std::current_exception();
            }
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Zun::Tools::Agent::CHandOverMarks::Read(path + "-handed").size() < slots &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    };
    EXPECT_NO_THROW(store.InTransaction(holdOpen)) << "the open transaction was disturbed";
    marker.join();
    EXPECT_FALSE(markFailure) << "a mark failed while the transaction was open";
    const auto tasks = store.UnfinishedTasks();
    ASSERT_EQ(slots + 1, tasks.size());
    for (const CAgentStore::Task& task : tasks) {
        EXPECT_EQ(CAgentStore::TaskState::Handed, task.state) << task.sequence;
    }
}

// Whatever an earlier version or someone else left in the marks file: what is no sequence is skipped,
// a file too large to be ours is refused, naming it.
TEST_F(CAgentStoreTest, AMarksFileOfOddContentIsReadOrRefusedClearly) {
    struct Case {
        std::string name;
        std::string content;
        std::string error;  // empty: opens
    };
    std::string junk(8 * 3 + 5, '\0');
    const int64_t negative = -7;
    std::memcpy(&junk[8], &negative, sizeof negative);
    for (const Case& c :
         {Case{"zeros, a negative sequence and a cut slot", junk, ""},
          Case{"too large", std::string(Zun::Tools::Agent::CHandOverMarks::kMaxFileBytes + 1, 'x'),
               "holds more than"}}) {
        CAgentStore(path, CAgentStore::Mode::Create).InTransaction([] {});
        std::ofstream(path + "-handed", std::ios::binary | std::ios::trunc) << c.content;
        try {
            CAgentStore store(path, CAgentStore::Mode::Create);
            EXPECT_TRUE(c.error.empty()) << c.name << ": opened";
            EXPECT_TRUE(store.UnfinishedTasks().empty()) << c.name;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << c.name << ": " << e.what();
            EXPECT_NE(std::string::npos, std::string(e.what()).find("-handed")) << c.name << ": " << e.what();
            EXPECT_FALSE(c.error.empty()) << c.name << ": " << e.what();
        }
        std::remove((path + "-handed").c_str());
    }
}

// The write-ahead log is copied back into the database (on Linux by a thread of the store's, not by
// the commit that fills it; on Windows by SQLite itself); once copied, the next commit starts it
// again and cuts the file back to its limit. Left uncopied, it would grow with everything ever
// written.
TEST_F(CAgentStoreTest, TheWriteAheadLogIsCopiedBackAndCutWhileTheAgentWrites) {
    constexpr off_t kLogLimit = 4 * 1024 * 1024;
    const auto logSize = [&] {
        struct stat info;
        return stat((path + "-wal").c_str(), &info) == 0 ? info.st_size : off_t(-1);
    };
    CAgentStore store(path, CAgentStore::Mode::Create);
    CAgentStore::Record record;
    record.description = "bulk";
    record.content = std::string(3000, 'x');
    size_t rows = 0;
    for (int commit = 0; commit < 120; ++commit) {  // some 4,500 pages of log, in commits of 50 rows
        store.InTransaction([&] {
            for (int i = 0; i < 50; ++i, ++rows) {
                store.Append(record);
            }
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        store.Append(record);  // a commit after a complete copy starts the log again
        ++rows;
    } while (logSize() > kLogLimit && std::chrono::steady_clock::now() < deadline &&
             (std::this_thread::sleep_for(std::chrono::milliseconds(5)), true));
    EXPECT_LE(logSize(), kLogLimit) << "the log was never copied back";
    EXPECT_EQ(rows, CAgentStore(path, CAgentStore::Mode::ReadOnly).Query(CAgentStore::Filter()).size());
}

TEST_F(CAgentStoreTest, TheInstanceUUIDIsMadeOnceAndKept) {
    int made = 0;
    auto generate = [&made] { return "uuid-" + std::to_string(++made); };
    EXPECT_EQ("uuid-1", CAgentStore(path, CAgentStore::Mode::Create).InstanceUUID(generate));
    EXPECT_EQ("uuid-1", CAgentStore(path, CAgentStore::Mode::Create).InstanceUUID(generate));
    EXPECT_EQ(1, made);
}

TEST_F(CAgentStoreTest, BadDatabasesGiveClearErrors) {
    const std::string garbage = root.Path() + "/garbage.db";
    std::ofstream(garbage) << std::string(4096, 'g');
    struct Case {
        std::string path;
        CAgentStore::Mode mode;
        std::string error;
    };
    for (const Case& c : {Case{root.Path() + "/missing.db", CAgentStore::Mode::ReadOnly, "no such file"},
                          Case{garbage, CAgentStore::Mode::Create, "not a database"},
                          Case{garbage, CAgentStore::Mode::ReadOnly, "not a database"}}) {
        try {
            CAgentStore store(c.path, c.mode);
            ADD_FAILURE() << c.path << " opened";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.error)) << e.what();
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.path)) << e.what();
        }
    }
}

TEST_F(CAgentStoreTest, ADamagedRowIsReportedAndTheOthersStillShown) {
    {
        CAgentStore store(path, CAgentStore::Mode::Create);
        CAgentStore::Record damaged;
        damaged.type = 9;
        damaged.description = "QUILRequest";
        damaged.content = "{\"rows\":[";
        store.Append(damaged);
    }
    Store(CRecoveryRequest());
    std::string out, errors;
    EXPECT_EQ(1, Logs(out, errors));
    EXPECT_NE(std::string::npos, errors.find("#1 has damaged content")) << errors;
    EXPECT_NE(std::string::npos, out.find("QUILProcessRecoveryDataRequest")) << out;
}

}  // namespace
