#include <gtest/gtest.h>

#include <set>

#include "server/service/CFleetService.h"
#include "server/store/CHistoryRetention.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"

namespace Zun {
namespace Server {
namespace {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;
using Testing::CTestDatabase;

const std::string kComputer = "pc-1";
const uint32_t kProtectionStatus = 10044;
const uint32_t kStorageStatus = 10553;
const Poco::Timespan::TimeDiff kDay = Poco::Timespan::DAYS;

StoredRow Row(int64_t sequence, uint32_t type = kProtectionStatus) {
    StoredRow row;
    row.set_sequence(sequence);
    row.set_time("2026-12-06T10:00:00.000Z");
    row.set_type(type);
    row.set_content("{}");
    return row;
}

StoredRow Recovery(int64_t sequence, RecoveryItem::Kind kind, const std::string& id) {
    StoredRow row = Row(sequence, CFleetService::kRecoveryRequest);
    RecoveryItem* item = row.add_recovery_items();
    item->set_kind(kind);
    item->set_internal_id(id);
    item->set_device_id("disk-0");
    item->set_index(kind == RecoveryItem::PASSWORD ? "1" : "");
    item->set_secret("secret of " + id);
    return row;
}

// A computer's history as the service keeps it: row 1 escrowed pw-1, which row 4's pw-2 (same
// device and index) superseded; row 6 escrowed rd-1; row 2 is the only storage status; the rest are
// protection statuses.
class RetentionTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        m_service.reset(new CFleetService(
            Store(), m_sealer, [](const std::string&) { return true; }, [](int, const std::string&) {}));
        quil::link::v1::Hello hello;
        m_service->Connected(kComputer, "01", hello, [] {});
    }

    CFleetStore& Store() { return m_database->Store(); }

    void CommitHistory(int64_t last) {
        std::vector<StoredRow> rows;
        for (int64_t sequence = 1; sequence <= last; ++sequence) {
            rows.push_back(sequence == 1   ? Recovery(1, RecoveryItem::PASSWORD, "pw-1")
                           : sequence == 2 ? Row(2, kStorageStatus)
                           : sequence == 4 ? Recovery(4, RecoveryItem::PASSWORD, "pw-2")
                           : sequence == 6 ? Recovery(6, RecoveryItem::DATA, "rd-1")
                                           : Row(sequence));
        }
        ASSERT_EQ(m_service->Commit(kComputer, rows), last);
    }

    CHistoryRetention::Removed Prune(CHistoryRetention::Bounds bounds, const Poco::Timestamp& now) {
        CHistoryRetention retention(m_database->Database(), bounds, [](int, const std::string&) {});
        return retention.Prune(now);
    }

    std::set<int64_t> Sequences() {
        std::vector<Poco::Int64> found;
        m_database->Database().Use([&](Poco::Data::Session& session) {
            session << "SELECT sequence FROM agent_rows", Poco::Data::Keywords::into(found),
                Poco::Data::Keywords::now;
        });
        return std::set<int64_t>(found.begin(), found.end());
    }

    std::set<std::string> Items() {
        std::set<std::string> items;
        for (const CFleetStore::Item& item : Store().Items(kComputer)) {
            items.insert(item.internalId + " " + item.state);
        }
        return items;
    }

    void Audit(const std::string& reason) {
        Store().AppendAudit({0, "2020-01-01T00:00:00.000Z", "root", 0, "reveal", kComputer, "pw-1", reason});
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CFleetService> m_service;
};

TEST_P(RetentionTest, TheRowBoundKeepsTheNewestRowsAndWhatTheFleetDependsOn) {
    CommitHistory(30);
    Audit("old reveal");

    const CHistoryRetention::Removed removed = Prune({10, 0}, Poco::Timestamp());

    // Beyond the newest ten: the storage status (the newest of its type) and the rows of live items
    // stay; row 1 carried only the superseded pw-1.
    std::set<int64_t> expected = {2, 4, 6};
    for (int64_t sequence = 21; sequence <= 30; ++sequence) {
        expected.insert(sequence);
    }
    EXPECT_EQ(Sequences(), expected);
    EXPECT_EQ(removed.rows, 30 - static_cast<int64_t>(expected.size()));
    EXPECT_EQ(Items(), (std::set<std::string>{"pw-1 superseded", "pw-2 escrowed", "rd-1 escrowed"}))
        << "the row bound leaves recovery items alone";
    EXPECT_EQ(m_database->Count("audit"), 1);
    EXPECT_EQ(Prune({10, 0}, Poco::Timestamp()).rows, 0) << "a second pass finds nothing more";
}

TEST_P(RetentionTest, TheAgeBoundRemovesOldHistoryButNoLiveItemTaskOrAuditRow) {
    CommitHistory(30);
    Audit("old reveal");
    // The recovery responses were answered: pw-2's is still named by it; an administrator's task too.
    const std::vector<IAgentLinkHandler::Delivery> deliveries = m_service->TakeDeliveries(kComputer);
    ASSERT_FALSE(deliveries.empty());
    for (const IAgentLinkHandler::Delivery& delivery : deliveries) {
        quil::link::v1::TaskAnswer answer;
        answer.set_id(delivery.id);
        answer.set_ok(true);
        answer.set_answer("{\"ok\":true,\"sequence\":31}");
        m_service->Answered(kComputer, answer);
    }
    const int64_t administrator = m_service->QueueTask(kComputer, "{\"task\":\"query\",\"kind\":1}", "");
    m_service->TakeDeliveries(kComputer);
    quil::link::v1::TaskAnswer answer;
    answer.set_id(administrator);
    answer.set_ok(true);
    answer.set_answer("{\"ok\":true}");
    m_service->Answered(kComputer, answer);
    // Rows from 25 on arrived "today"; everything else 40 days before the pass.
    m_database->Execute(
        "UPDATE agent_rows SET received_at = '2999-01-01T00:00:00.000Z' WHERE sequence >= 25");
    const int64_t tasksBefore = m_database->Count("tasks");

    const CHistoryRetention::Removed removed = Prune({0, 30}, Poco::Timestamp() + 40 * kDay);

    std::set<int64_t> expected = {2, 4, 6, 25, 26, 27, 28, 29, 30};
    EXPECT_EQ(Sequences(), expected);
    EXPECT_EQ(removed.items, 1);
    EXPECT_EQ(Items(), (std::set<std::string>{"pw-2 confirmation sent", "rd-1 confirmation sent"}));
    EXPECT_GE(removed.tasks, 1);
    EXPECT_EQ(m_database->Count("tasks"), tasksBefore - removed.tasks);
    CFleetStore::Task kept;
    for (const CFleetStore::Item& item : Store().Items(kComputer)) {
        EXPECT_TRUE(Store().FindTask(item.confirmationTask, kept)) << "the response of " << item.internalId;
    }
    EXPECT_FALSE(Store().FindTask(administrator, kept));
    EXPECT_EQ(m_database->Count("audit"), 1);
}

TEST_P(RetentionTest, ABacklogLongerThanABatchIsRemovedInOnePass) {
    const int64_t last = 3 * CHistoryRetention::kBatch + 7;
    CommitHistory(last);

    const CHistoryRetention::Removed removed = Prune({1, 0}, Poco::Timestamp());

    // Left: the newest row (also the newest protection status), the storage status and the rows of
    // the two live items.
    EXPECT_EQ(Sequences(), (std::set<int64_t>{2, 4, 6, last}));
    EXPECT_EQ(removed.rows, last - 4);
}

TEST_P(RetentionTest, WithoutBoundsNothingIsRemoved) {
    CommitHistory(30);
    const CHistoryRetention::Removed removed = Prune({0, 0}, Poco::Timestamp() + 1000 * kDay);
    EXPECT_EQ(removed.rows + removed.items + removed.tasks, 0);
    EXPECT_EQ(Sequences().size(), 30u);
}

INSTANTIATE_TEST_SUITE_P(Engines, RetentionTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
