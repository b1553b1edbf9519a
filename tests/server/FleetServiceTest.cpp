#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "server/service/CFleetService.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"
#include "tests/server/StoredRows.h"
#include "tools/agent/control/CTaskParser.h"

namespace Zun {
namespace Server {
namespace {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;
using Testing::CTestDatabase;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kComputer = "pc-1";
const std::string kSerial = "0A1B";
const uint32_t kProtectionStatus = 10044;

StoredRow Row(int64_t sequence, uint32_t type = kProtectionStatus) {
    return Testing::StoredStatusRow(sequence, type, "2026-12-06T10:00:00.000Z");
}

struct Item {
    RecoveryItem::Kind kind;
    std::string id;
    std::string device;
    std::string index;
};

StoredRow Recovery(int64_t sequence, const std::vector<Item>& items) {
    StoredRow row = Row(sequence, CFleetService::kRecoveryRequest);
    for (const Item& given : items) {
        RecoveryItem* item = row.add_recovery_items();
        item->set_kind(given.kind);
        item->set_internal_id(given.id);
        item->set_device_id(given.device);
        item->set_index(given.index);
        item->set_secret("secret of " + given.id);
    }
    return row;
}

const Item kPassword1{RecoveryItem::PASSWORD, "pw-1", "disk-0", "1"};
const Item kPassword2{RecoveryItem::PASSWORD, "pw-2", "disk-0", "2"};
const Item kData1{RecoveryItem::DATA, "rd-1", "disk-0", ""};

quil::link::v1::TaskAnswer Answer(int64_t task, int64_t agentSequence, bool ok = true) {
    quil::link::v1::TaskAnswer answer;
    answer.set_id(task);
    answer.set_ok(ok);
    answer.set_answer(
        ok ? "{\"ok\":true,\"task\":\"recovery-response\",\"sequence\":" + std::to_string(agentSequence) + "}"
           : "{\"ok\":false,\"error\":\"refused\"}");
    return answer;
}

class FleetServiceTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        Restart();
    }

    // A new service on the database opened again: what a restarted server starts with.
    void Restart() {
        m_service.reset();
        m_database->Reopen();
        m_service.reset(new CFleetService(
            m_database->Store(), m_sealer, [this](const std::string& serial) { return serial != m_revoked; },
            [this](int, const std::string& text) { m_log += text + "\n"; }));
    }

    void Connect(const std::string& computer = kComputer) {
        quil::link::v1::Hello hello;
        hello.set_agent_version("1.0.0");
        hello.set_instance_uuid("11111111-2222-3333-4444-555555555555");
        m_service->Connected(computer, kSerial, hello, [this] { ++m_wakes; });
    }

    std::map<std::string, std::string> States() {
        std::map<std::string, std::string> states;
        for (const CFleetStore::Item& item : m_database->Store().Items(kComputer)) {
            states[item.internalId] = item.state;
        }
        return states;
    }

    std::vector<std::string> Lines(const std::string& computer = kComputer) {
        std::vector<std::string> lines;
        for (const auto& delivery : m_service->TakeDeliveries(computer)) {
            lines.push_back(delivery.line);
        }
        return lines;
    }

    // Escrows the items, delivers the response and has the agent answer it as its row 10.
    int64_t EscrowAndAnswer(const std::vector<Item>& items) {
        m_service->Commit(kComputer, {Recovery(1, items)});
        const auto deliveries = m_service->TakeDeliveries(kComputer);
        EXPECT_EQ(deliveries.size(), 1u);
        m_service->Answered(kComputer, Answer(deliveries.at(0).id, 10));
        return deliveries.at(0).id;
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CFleetService> m_service;
    std::string m_revoked = "REVOKED";
    std::string m_log;
    std::atomic<int> m_wakes{0};
};

TEST_P(FleetServiceTest, RepeatedAndOverlappingRowsAreStoredOnce) {
    Connect();
    EXPECT_EQ(m_service->Commit(kComputer, {Row(1), Row(2), Recovery(3, {kPassword1})}), 3);
    EXPECT_EQ(m_service->Commit(kComputer, {Row(2), Recovery(3, {kPassword1}), Row(4), Row(5)}), 5);
    EXPECT_EQ(m_service->Commit(kComputer, {Row(1), Row(2), Recovery(3, {kPassword1}), Row(4), Row(5)}), 5);
    EXPECT_EQ(m_database->Count("agent_rows"), 5);
    EXPECT_EQ(m_database->Count("recovery_items"), 1);
    // A 728 row sent again is no new request: one response only.
    EXPECT_EQ(Lines().size(), 1u);
    Connect();
    CFleetStore::Computer computer;
    ASSERT_TRUE(m_database->Store().FindComputer(kComputer, computer));
    EXPECT_EQ(computer.committedThrough, 5);
}

TEST_P(FleetServiceTest, ResponseNamesExactlyTheCommittedItemsAndParsesAsAgentTask) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1, kData1, kPassword2})});
    EXPECT_GE(m_wakes.load(), 1);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "{\"task\":\"recovery-response\",\"passwords\":[\"pw-1\",\"pw-2\"],\"data\":[\"rd-1\"]}");
    Tools::Agent::CTaskParser parser([] { return std::string("00000000-0000-0000-0000-000000000000"); });
    EXPECT_EQ(parser.Parse(lines[0]).name, "recovery-response");
    EXPECT_TRUE(Lines().empty()) << "a delivery is taken once per connection";
}

TEST_P(FleetServiceTest, ItemsMoveFromEscrowedToConfirmedByTheProduct) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1, kData1})});
    EXPECT_EQ(States(), (std::map<std::string, std::string>{{"pw-1", CFleetStore::kEscrowed},
                                                            {"rd-1", CFleetStore::kEscrowed}}));
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(deliveries.size(), 1u);
    m_service->Answered(kComputer, Answer(deliveries[0].id, 10));
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kConfirmationSent);
    m_service->Commit(kComputer, {Recovery(11, {kPassword1})});
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kConfirmationSent) << "still listed after the task";
    EXPECT_EQ(States().at("rd-1"), CFleetStore::kConfirmed) << "no longer listed after the task";
    m_service->Commit(kComputer, {Recovery(12, {})});
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kConfirmed);
}

TEST_P(FleetServiceTest, RequestOlderThanTheTaskRowConfirmsNothing) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1})});
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    m_service->Answered(kComputer, Answer(deliveries.at(0).id, 5));
    m_service->Commit(kComputer, {Recovery(4, {})});
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kConfirmationSent);
}

TEST_P(FleetServiceTest, RefusedAnswerLeavesItemsEscrowedAndTheyAreOfferedAgain) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1})});
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    m_service->Answered(kComputer, Answer(deliveries.at(0).id, 0, false));
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kEscrowed);
    Connect();
    EXPECT_THAT(Lines(), ElementsAre(HasSubstr("\"pw-1\"")));
}

TEST_P(FleetServiceTest, NewerItemsSupersedeOlderOnesOfTheSameDeviceKindAndIndex) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1, kPassword2, kData1})});
    const Item samePlace{RecoveryItem::PASSWORD, "pw-3", "disk-0", "1"};
    const Item otherDevice{RecoveryItem::PASSWORD, "pw-4", "disk-1", "2"};
    const Item newData{RecoveryItem::DATA, "rd-2", "disk-0", ""};
    m_service->Commit(kComputer, {Recovery(2, {samePlace, otherDevice, newData})});
    const std::map<std::string, std::string> expected = {
        {"pw-1", CFleetStore::kSuperseded}, {"pw-2", CFleetStore::kEscrowed},
        {"rd-1", CFleetStore::kSuperseded}, {"pw-3", CFleetStore::kEscrowed},
        {"pw-4", CFleetStore::kEscrowed},   {"rd-2", CFleetStore::kEscrowed}};
    EXPECT_EQ(States(), expected);
}

TEST_P(FleetServiceTest, FailedCommitKeepsNothingAndQueuesNothing) {
    Connect();
    m_database->RefuseInserts("agent_rows", "NEW.sequence = 3");
    EXPECT_ANY_THROW(m_service->Commit(kComputer, {Row(1), Recovery(2, {kPassword1}), Row(3)}));
    EXPECT_EQ(m_database->Count("agent_rows"), 0);
    EXPECT_EQ(m_database->Count("recovery_items"), 0);
    EXPECT_EQ(m_database->Count("tasks"), 0);
    EXPECT_TRUE(Lines().empty());
    m_database->AllowInserts("agent_rows");
    EXPECT_EQ(m_service->Commit(kComputer, {Row(1), Recovery(2, {kPassword1}), Row(3)}), 3);
    EXPECT_EQ(Lines().size(), 1u);
}

TEST_P(FleetServiceTest, DeliveryTakenButUnansweredBeforeRestartIsConfirmedAfterReconnect) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1})});
    const auto before = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(before.size(), 1u);
    Restart();
    Connect();
    const auto after = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].id, before[0].id);
    m_service->Answered(kComputer, Answer(after[0].id, 7));
    m_service->Commit(kComputer, {Recovery(8, {})});
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kConfirmed);
}

TEST_P(FleetServiceTest, ItemsCommittedWhoseResponseWasNeverQueuedGetOneOnReconnect) {
    Connect();
    m_database->RefuseInserts("tasks");
    EXPECT_EQ(m_service->Commit(kComputer, {Recovery(1, {kPassword1, kData1})}), 1);
    EXPECT_EQ(m_database->Count("tasks"), 0);
    m_database->AllowInserts("tasks");
    Restart();
    Connect();
    EXPECT_THAT(Lines(),
                ElementsAre("{\"task\":\"recovery-response\",\"passwords\":[\"pw-1\"],\"data\":[\"rd-1\"]}"));
}

TEST_P(FleetServiceTest, TaskQueuedWhileDisconnectedIsDeliveredOnConnect) {
    Connect();
    m_service->Disconnected(kComputer, {});
    const int wakes = m_wakes;
    const int64_t id = m_service->QueueTask(kComputer, "{\"task\":\"query\",\"kind\":1}", "");
    EXPECT_EQ(m_wakes.load(), wakes) << "no stream to wake";
    EXPECT_FALSE(m_service->IsConnected(kComputer));
    Connect();
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].id, id);
    m_service->QueueTask(kComputer, "{\"task\":\"query\",\"kind\":0}", "");
    EXPECT_EQ(m_wakes.load(), wakes + 1);
}

// A wake posted to the computer's old stream runs after its new stream connected: the old one takes
// the task and ends without an answer. The task goes to the new stream; an answered one stays
// answered whatever a stream reports.
TEST_P(FleetServiceTest, ADeliveryLeftUnansweredByAnEndedStreamGoesToTheNewerOne) {
    Connect();
    Connect();  // the agent came back before the server saw its first stream end
    const int64_t id = m_service->QueueTask(kComputer, "{\"task\":\"query\",\"kind\":1}", "");
    ASSERT_EQ(m_service->TakeDeliveries(kComputer).size(), 1u) << "taken by the old stream";
    const int wakes = m_wakes;
    m_service->Disconnected(kComputer, {id});
    EXPECT_TRUE(m_service->IsConnected(kComputer));
    EXPECT_EQ(m_wakes.load(), wakes + 1);
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].id, id);

    quil::link::v1::TaskAnswer answer;
    answer.set_id(id);
    answer.set_ok(true);
    answer.set_answer("{\"ok\":true}");
    m_service->Answered(kComputer, answer);
    m_service->Disconnected(kComputer, {id});
    EXPECT_FALSE(m_service->IsConnected(kComputer));
    CFleetStore::Task task;
    ASSERT_TRUE(m_database->Store().FindTask(id, task));
    EXPECT_EQ(task.state, CFleetStore::kAnswered);
    EXPECT_EQ(m_wakes.load(), wakes + 1);
}

// One line for more computers than a transaction queues: each gets one task, the ids come back in
// the computers' order, and only the stream connected here is woken.
TEST_P(FleetServiceTest, ATaskForManyComputersIsQueuedForEachInGroups) {
    Connect();
    std::vector<std::string> computers{kComputer};
    for (std::size_t i = 1; i <= CFleetService::kQueueGroup; ++i) {
        computers.push_back("pc-enrolled-" + std::to_string(i));
        m_database->Store().Enrolled(computers.back());
    }
    const int wakes = m_wakes;
    const std::vector<int64_t> ids = m_service->QueueTasks(computers, "{\"task\":\"query\",\"kind\":1}", "");
    EXPECT_EQ(m_wakes.load(), wakes + 1);
    ASSERT_EQ(ids.size(), computers.size());
    std::map<int64_t, std::string> computerOf;
    for (const CFleetStore::Task& task : m_database->Store().Tasks()) {
        computerOf[task.id] = task.computer;
    }
    ASSERT_EQ(computerOf.size(), computers.size()) << "one task each, no more";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(computerOf[ids[i]], computers[i]) << "task " << ids[i];
    }
}

TEST_P(FleetServiceTest, AnswersForAnotherComputersTaskAreIgnored) {
    Connect();
    Connect("pc-2");
    m_service->Commit(kComputer, {Recovery(1, {kPassword1})});
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    m_service->Answered("pc-2", Answer(deliveries.at(0).id, 5));
    EXPECT_EQ(States().at("pw-1"), CFleetStore::kEscrowed);
}

TEST_P(FleetServiceTest, RevokedCertificateIsRefusedWithItsReason) {
    quil::link::v1::Hello hello;
    try {
        m_service->Connected(kComputer, m_revoked, hello, [] {});
        FAIL() << "a revoked certificate was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("revoked"));
    }
    EXPECT_FALSE(m_service->IsConnected(kComputer));
    CFleetStore::Computer computer;
    EXPECT_FALSE(m_database->Store().FindComputer(kComputer, computer));
}

TEST_P(FleetServiceTest, SealedItemsHoldNoPlaintextAndNeverShareANonce) {
    Connect();
    std::vector<Item> items;
    for (int i = 0; i < 20; ++i) {
        items.push_back(
            {RecoveryItem::PASSWORD, "pw-" + std::to_string(i), "disk-" + std::to_string(i), "1"});
    }
    m_service->Commit(kComputer, {Recovery(1, items)});
    std::set<std::string> nonces;
    for (const CFleetStore::Item& item : m_database->Store().Items(kComputer)) {
        EXPECT_EQ(item.sealed.find("secret"), std::string::npos);
        nonces.insert(item.sealed.substr(0, 16));  // 12 bytes are 16 Base64 characters
    }
    EXPECT_EQ(nonces.size(), items.size());
    EXPECT_EQ(m_log.find("secret of"), std::string::npos) << m_log;
}

TEST_P(FleetServiceTest, RevealWritesTheAuditFirstAndNeedsAReason) {
    Connect();
    m_service->Commit(kComputer,
                      {Recovery(1, {kPassword1, kData1, {RecoveryItem::PASSWORD, "pw-9", "disk-9", "1"}})});
    const CFleetService::Requester admin{"alice", 1000};
    EXPECT_THROW(m_service->Reveal(kComputer, "", admin, " "), std::invalid_argument);
    EXPECT_EQ(m_database->Count("audit"), 0);

    const auto revealed = m_service->Reveal(kComputer, "disk-0", admin, "user locked out, ticket 42");
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0].internalId, "pw-1");
    EXPECT_EQ(revealed[0].secret, "secret of pw-1");
    const auto audit = m_database->Store().Audit();
    ASSERT_EQ(audit.size(), 1u);
    EXPECT_EQ(audit[0].who, "alice");
    EXPECT_EQ(audit[0].uid, 1000);
    EXPECT_EQ(audit[0].computer, kComputer);
    EXPECT_EQ(audit[0].items, "pw-1");
    EXPECT_EQ(audit[0].reason, "user locked out, ticket 42");
    EXPECT_EQ(m_log.find("secret of"), std::string::npos) << m_log;
}

TEST_P(FleetServiceTest, RevealWhoseAuditCannotBeWrittenRevealsNothing) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1})});
    m_database->RefuseInserts("audit");
    std::vector<CFleetService::Revealed> revealed;
    EXPECT_ANY_THROW(revealed = m_service->Reveal(kComputer, "", {"alice", 1000}, "ticket 42"));
    EXPECT_TRUE(revealed.empty());
    EXPECT_EQ(m_database->Count("audit"), 0);
}

TEST_P(FleetServiceTest, AuditRowsAreRefusedChangeByTheDatabase) {
    m_database->Store().AppendAudit(
        {0, "2026-12-06T10:00:00.000Z", "alice", 1000, "reveal", kComputer, "pw-1", "t"});
    for (const char* change : {"UPDATE audit SET reason = 'nothing'", "DELETE FROM audit"}) {
        EXPECT_ANY_THROW(m_database->Execute(change)) << change;
    }
    const auto audit = m_database->Store().Audit();
    ASSERT_EQ(audit.size(), 1u);
    EXPECT_EQ(audit[0].reason, "t");
}

TEST_P(FleetServiceTest, SealedItemMovedToAnotherItemDoesNotOpen) {
    Connect();
    m_service->Commit(kComputer, {Recovery(1, {kPassword1, kPassword2})});
    const auto items = m_database->Store().Items(kComputer);
    ASSERT_EQ(items.size(), 2u);
    m_database->Execute("UPDATE recovery_items SET sealed = '" + items[0].sealed +
                        "' WHERE internal_id = 'pw-2'");
    EXPECT_ANY_THROW(m_service->Reveal(kComputer, "", {"alice", 1000}, "moved"));
}

TEST_P(FleetServiceTest, SchemaIsAppliedOnceAndKeptOnReopen) {
    const int version = m_database->Database().SchemaVersion();
    EXPECT_GE(version, 1);
    m_database->Reopen();
    EXPECT_EQ(m_database->Database().SchemaVersion(), version);
    EXPECT_EQ(m_database->Count("schema_version"), version);
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetServiceTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
