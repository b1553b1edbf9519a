#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "ipc/CLpcWorkerPool.h"

namespace Zun {
namespace IpcTest {
namespace {

using Connectors::Common::Pixlink::CLpcWorkerPool;

constexpr std::uint32_t kShortIdleMs = 20;

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(LpcWorkerPoolTest, AWorkerWithoutWorkEndsAfterItsIdleTimeAndANewOneTakesLaterWork) {
    EXPECT_EQ(60000u, CLpcWorkerPool::kIdleMs) << "a worker waits a minute for new work";
    CLpcWorkerPool pool(kShortIdleMs);
    ASSERT_TRUE(pool.Start());
    EXPECT_TRUE(WaitFor([&] { return pool.LiveWorkers() == 0; })) << "the idle worker ends";
    std::atomic<int> done{0};
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(pool.Submit([&] { ++done; }));
        EXPECT_TRUE(WaitFor([&] { return done == round; }));
        EXPECT_TRUE(WaitFor([&] { return pool.LiveWorkers() == 0; })) << "round " << round;
    }
}

TEST(LpcWorkerPoolTest, BusyWorkersGetCompanyAndStopLetsQueuedWorkFinish) {
    CLpcWorkerPool pool;
    ASSERT_TRUE(pool.Start());
    std::atomic<bool> release{false};
    std::atomic<int> done{0};
    ASSERT_TRUE(pool.Submit([&] {
        WaitFor([&] { return release.load(); });
        ++done;
    }));
    // The first worker is held, so this needs a second one.
    ASSERT_TRUE(pool.Submit([&] { ++done; }));
    EXPECT_TRUE(WaitFor([&] { return done == 1; }));
    EXPECT_EQ(2u, pool.LiveWorkers());
    release = true;
    pool.Stop();
    EXPECT_EQ(2, done.load());
    EXPECT_EQ(0u, pool.LiveWorkers());
    EXPECT_FALSE(pool.Submit([] {})) << "a stopped pool takes no work";
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
