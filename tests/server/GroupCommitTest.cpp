#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "server/service/CCommitQueue.h"
#include "server/service/CFleetService.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"
#include "tests/server/StoredRows.h"

namespace Zun {
namespace Server {
namespace {

using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;
using Testing::CTestDatabase;

const std::chrono::seconds kDeadline(30);
const uint32_t kProtectionStatus = 10044;

StoredRow Row(int64_t sequence, uint32_t type = kProtectionStatus) {
    return Testing::StoredStatusRow(sequence, type, "2026-12-07T01:00:00.000Z");
}

std::vector<StoredRow> Rows(int64_t first, int64_t last) {
    std::vector<StoredRow> rows;
    for (int64_t sequence = first; sequence <= last; ++sequence) {
        rows.push_back(Row(sequence));
    }
    return rows;
}

// What the batches' ends said, waited for with a deadline.
class CEnds {
public:
    CCommitQueue::Done For(const std::string& name) {
        return [this, name](int64_t through, const std::string& error) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_through[name] = through;
            m_errors[name] = error;
            ++m_count;
            m_changed.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kDeadline, [&] { return m_count >= count; });
    }
    int64_t Through(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_through[name];
    }
    std::string Error(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors[name];
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, int64_t> m_through;
    std::map<std::string, std::string> m_errors;
    std::size_t m_count = 0;
};

// The queue alone: what arrives while its writer commits goes into the next group, whole batches
// only, no group above its row bound unless one batch is larger on its own.
TEST(CommitQueueTest, WhatArrivesDuringACommitIsGroupedWithinTheRowBound) {
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    std::vector<std::vector<std::size_t>> groups;  // each group's batch sizes
    CCommitQueue queue(1, nullptr, [&](std::vector<CCommitQueue::Batch>& group) {
        std::unique_lock<std::mutex> lock(mutex);
        groups.emplace_back();
        for (const CCommitQueue::Batch& batch : group) {
            groups.back().push_back(batch.rows.size());
        }
        changed.notify_all();
        changed.wait_for(lock, kDeadline, [&] { return release; });
        lock.unlock();
        for (CCommitQueue::Batch& batch : group) {
            batch.done(static_cast<int64_t>(batch.rows.size()), "");
        }
    });
    CEnds ends;
    queue.Submit({"first", Rows(1, 1), ends.For("first")});
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kDeadline, [&] { return !groups.empty(); }));
    }
    const std::size_t third = CCommitQueue::kMaxGroupRows / 3;
    for (int i = 0; i < 4; ++i) {
        queue.Submit({"pc-" + std::to_string(i), Rows(1, third), ends.For("pc-" + std::to_string(i))});
    }
    queue.Submit({"large", Rows(1, CCommitQueue::kMaxGroupRows + 1), ends.For("large")});
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    ASSERT_TRUE(ends.WaitFor(6));
    queue.Stop();
    const std::vector<std::vector<std::size_t>> expected{
        {1}, {third, third, third}, {third}, {CCommitQueue::kMaxGroupRows + 1}};
    EXPECT_EQ(groups, expected);
}

class GroupCommitTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        m_service.reset(new CFleetService(
            m_database->Store(), m_sealer, [](const std::string&) { return true; },
            [this](int, const std::string& text) {
                std::lock_guard<std::mutex> lock(m_logLock);
                m_log += text + "\n";
            }));
    }

    void TearDown() override { m_service.reset(); }
    void ExpectNoWaitBetweenBoundThreads();

    void Connect(const std::string& computer) {
        quil::link::v1::Hello hello;
        hello.set_agent_version("1.0.0");
        m_service->Connected(computer, "0A1B", hello, [this] {
            std::lock_guard<std::mutex> lock(m_wakeLock);
            ++m_wakes;
            m_woken.notify_all();
        });
    }

    bool WaitForWake() {
        std::unique_lock<std::mutex> lock(m_wakeLock);
        return m_woken.wait_for(lock, kDeadline, [this] { return m_wakes > 0; });
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CFleetService> m_service;
    std::mutex m_logLock;
    std::string m_log;
    std::mutex m_wakeLock;
    std::condition_variable m_woken;
    int m_wakes = 0;
};

// Many computers at once, each with one commit in flight as a stream has: every batch hears of its
// end once, and only when its rows can be read from another session, i.e. after the commit.
TEST_P(GroupCommitTest, EachBatchIsAcknowledgedOnceAfterItsRowsAreCommitted) {
    const int kComputers = 24;
    const int kRounds = 5;
    const int kRowsPerRound = 7;
    for (int c = 0; c < kComputers; ++c) {
        Connect("pc-" + std::to_string(c));
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> rounds;
    std::vector<std::string> faults;
    std::function<void(const std::string&, int)> submit = [&](const std::string& name, int round) {
        const int64_t first = round * kRowsPerRound + 1;
        m_service->CommitAsync(
            name, Rows(first, first + kRowsPerRound - 1),
            [&, name, round, first](int64_t through, const std::string& error) {
                // Read on the shared session, not the writer's.
                const int64_t stored = m_database->Store().RowCount(name);
                std::unique_lock<std::mutex> lock(mutex);
                if (!error.empty() || through != first + kRowsPerRound - 1 || stored != through) {
                    faults.push_back(name + ": through " + std::to_string(through) + ", stored " +
                                     std::to_string(stored) + " " + error);
                }
                ++rounds[name];
                changed.notify_all();
                lock.unlock();
                if (round + 1 < kRounds) {
                    submit(name, round + 1);
                }
            });
    };
    for (int c = 0; c < kComputers; ++c) {
        submit("pc-" + std::to_string(c), 0);
    }
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, kDeadline, [&] {
        int done = 0;
        for (const auto& entry : rounds) {
            done += entry.second;
        }
        return done == kComputers * kRounds;
    }));
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(m_database->Count("agent_rows"), kComputers * kRounds * kRowsPerRound);
    CFleetStore::Computer record;
    ASSERT_TRUE(m_database->Store().FindComputer("pc-3", record));
    EXPECT_EQ(record.committedThrough, kRounds * kRowsPerRound);
}

// A batch the database refuses fails alone, whether or not it shared a transaction; the others are
// committed, and the escrow among them gets its response queued and its stream woken.
TEST_P(GroupCommitTest, ABatchThatFailsFailsAloneAndEscrowsGetTheirResponses) {
    for (const char* name : {"pc-a", "pc-b", "pc-c"}) {
        Connect(name);
    }
    m_database->RefuseInserts("agent_rows", "NEW.sequence = 13");
    StoredRow recovery = Row(3, CFleetService::kRecoveryRequest);
    RecoveryItem* item = recovery.add_recovery_items();
    item->set_kind(RecoveryItem::PASSWORD);
    item->set_internal_id("pw-1");
    item->set_device_id("disk-0");
    item->set_index("1");
    item->set_secret("secret");
    CEnds ends;
    m_service->CommitAsync("pc-a", Rows(1, 5), ends.For("pc-a"));
    m_service->CommitAsync("pc-b", Rows(11, 14), ends.For("pc-b"));
    m_service->CommitAsync("pc-c", {Row(1), Row(2), recovery}, ends.For("pc-c"));
    m_service->CommitAsync("never-connected", Rows(1, 2), ends.For("never-connected"));
    ASSERT_TRUE(ends.WaitFor(4));
    EXPECT_EQ(ends.Through("pc-a"), 5);
    EXPECT_EQ(ends.Error("pc-a"), "");
    EXPECT_NE(ends.Error("pc-b").find("refused by the test"), std::string::npos) << ends.Error("pc-b");
    EXPECT_EQ(ends.Through("pc-c"), 3);
    EXPECT_NE(ends.Error("never-connected").find("never connected"), std::string::npos);
    EXPECT_EQ(m_database->Store().RowCount("pc-b"), 0);
    EXPECT_EQ(m_database->Count("agent_rows"), 8);
    // The response is queued after the acknowledgement: wait for its wake.
    ASSERT_TRUE(WaitForWake());
    const std::vector<IAgentLinkHandler::Delivery> deliveries = m_service->TakeDeliveries("pc-c");
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_NE(deliveries[0].line.find("pw-1"), std::string::npos);
}

// Threads that bound sessions do not wait for each other: one holds a transaction open while
// another reads. PostgreSQL opens a backend for each up to the bound, then shares them; SQLite
// keeps its one session.
TEST_P(GroupCommitTest, BoundThreadsUseSessionsOfTheirOwn) {
    CServerDatabase& database = m_database->Database();
    const bool postgres = GetParam() == CTestDatabase::Engine::PostgreSQL;
    if (postgres) {
        ExpectNoWaitBetweenBoundThreads();
    }
    std::vector<std::thread> more;
    for (std::size_t i = 0; i < CServerDatabase::kMaxSessions + 2; ++i) {
        more.emplace_back([&] { database.BindThread(); });
    }
    for (std::thread& thread : more) {
        thread.join();
    }
    EXPECT_EQ(database.Sessions(), postgres ? CServerDatabase::kMaxSessions : 1u);
}

void GroupCommitTest::ExpectNoWaitBetweenBoundThreads() {
    CServerDatabase& database = m_database->Database();
    std::mutex mutex;
    std::condition_variable changed;
    bool reading = false;
    bool read = false;
    bool waited = false;
    std::thread holder([&] {
        database.BindThread();
        database.InTransaction([&](Poco::Data::Session& session) {
            session << "UPDATE computers SET agent_version = 'x'", Poco::Data::Keywords::now;
            std::unique_lock<std::mutex> lock(mutex);
            reading = true;
            changed.notify_all();
            waited = changed.wait_for(lock, kDeadline, [&] { return read; });
        });
    });
    std::thread reader([&] {
        database.BindThread();
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, kDeadline, [&] { return reading; });
        }
        m_database->Store().RowCount("pc-1");
        std::lock_guard<std::mutex> lock(mutex);
        read = true;
        changed.notify_all();
    });
    holder.join();
    reader.join();
    EXPECT_TRUE(waited) << "the reader waited for the holder's transaction";
}

INSTANTIATE_TEST_SUITE_P(Engines, GroupCommitTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

}  // namespace
}  // namespace Server
}  // namespace Zun
