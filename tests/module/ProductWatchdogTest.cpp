#include <gtest/gtest.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/thread.hpp>
#include <map>
#include <set>

#include "bus/CQUILRequest.h"
#include "module/CProductWatchdog.h"

using namespace Zun;
using Common::Message::Connectors::QUILConnector::CQUILRequest;
using Connectors::QUILConnector::CProductWatchdog;

namespace {

class CScriptedChannel : public Connectors::Common::IWatchedChannel {
public:
    bool PingProduct(std::string& error) override {
        if (!pingOk) {
            error += "Ping (CCCOMM_PING) failed with 1";
        }
        return pingOk;
    }
    uint32_t ReadBroadcast(uint32_t id) override {
        reads.push_back(id);
        if (failing.count(id)) {
            throw std::runtime_error("CPixlinkChannel: Get broadcast failed");
        }
        return values[id];
    }
    uint32_t GetLastValue(uint32_t id) override {
        return last.insert(std::make_pair(id, 0xFFFFFFFFu)).first->second;
    }
    void SetLastValue(uint32_t id, uint32_t value) override { last[id] = value; }

    bool pingOk = true;
    std::map<uint32_t, uint32_t> values{{2, 0xFFFFFFFF}, {4, 0xFFFFFFFF}, {8, 0xFFFFFFFF}, {9, 0xFFFFFFFF}};
    std::map<uint32_t, uint32_t> last;
    std::set<uint32_t> failing;
    std::vector<uint32_t> reads;
};

class CRecorder : public Common::Module::IMessagePublisher, public Connectors::Common::ILogger {
public:
    void Publish(const boost::shared_ptr<Common::Kernel::IMessage>& message) override {
        boost::lock_guard<boost::mutex> guard(lock);
        auto request = boost::dynamic_pointer_cast<CQUILRequest>(message);
        ASSERT_TRUE(request && request->IsReadOnly());
        kinds.push_back(request->GetRequestKind());
        published.notify_all();
    }
    Connectors::Common::CLogEntry Log(int severity) override {
        return Connectors::Common::CLogEntry(severity, [this](int level, const std::string& text) {
            boost::lock_guard<boost::mutex> guard(lock);
            lines.push_back(std::to_string(level) + " " + text);
        });
    }
    bool WaitForKinds(size_t count) {
        boost::unique_lock<boost::mutex> guard(lock);
        return published.wait_for(guard, boost::chrono::seconds(10), [&] { return kinds.size() >= count; });
    }

    boost::mutex lock;
    boost::condition_variable published;
    std::vector<uint32_t> kinds;
    std::vector<std::string> lines;
};

class ProductWatchdogTest : public ::testing::Test {
protected:
    CScriptedChannel channel;
    CRecorder recorder;
    CProductWatchdog watchdog{channel, recorder, recorder};
};

TEST_F(ProductWatchdogTest, FirstCycleAnnouncesEveryKnownValueInOrder) {
    channel.values = {{2, 5}, {4, 0xFFFFFFFF}, {8, 0}, {9, 7}};
    watchdog.RunCycle();
    EXPECT_EQ((std::vector<uint32_t>{0, 2, 3}), recorder.kinds);
    EXPECT_EQ((std::vector<uint32_t>{2, 4, 8, 9}), channel.reads);
    recorder.kinds.clear();
    watchdog.RunCycle();
    EXPECT_TRUE(recorder.kinds.empty()) << "nothing changed";
    channel.values[4] = 1;
    watchdog.RunCycle();
    EXPECT_EQ((std::vector<uint32_t>{1}), recorder.kinds);
}

TEST_F(ProductWatchdogTest, FailedPingIsAnnouncedBeforeChanges) {
    channel.pingOk = false;
    channel.values[8] = 3;
    watchdog.RunCycle();
    EXPECT_EQ((std::vector<uint32_t>{0, 2}), recorder.kinds);
    ASSERT_FALSE(recorder.lines.empty());
    EXPECT_EQ("3 Ping failed -> connector will be restarted: Ping (CCCOMM_PING) failed with 1",
              recorder.lines[0]);
}

// The host learns that pings are answered again from the first ping that succeeds after failures,
// once, and never from a ping that had not failed.
TEST_F(ProductWatchdogTest, FirstAnsweredPingAfterFailuresIsLoggedOnce) {
    const std::string answered = "0 Ping answered again after failed pings";
    watchdog.RunCycle();
    EXPECT_EQ(std::vector<std::string>{}, recorder.lines);
    channel.pingOk = false;
    watchdog.RunCycle();
    watchdog.RunCycle();
    channel.pingOk = true;
    watchdog.RunCycle();
    watchdog.RunCycle();
    ASSERT_EQ(3u, recorder.lines.size());
    EXPECT_EQ(answered, recorder.lines[2]);
}

TEST_F(ProductWatchdogTest, FailedReadSkipsOnlyItsIdentifier) {
    channel.values = {{2, 1}, {4, 1}, {8, 1}, {9, 1}};
    channel.failing = {4};
    watchdog.RunCycle();
    EXPECT_EQ((std::vector<uint32_t>{0, 2, 3}), recorder.kinds);
    EXPECT_EQ(
        (std::vector<std::string>{
            "4 Error during checking for new broadcast messages: CPixlinkChannel: Get broadcast failed"}),
        recorder.lines);
    channel.failing.clear();
    recorder.kinds.clear();
    watchdog.RunCycle();
    EXPECT_EQ((std::vector<uint32_t>{1}), recorder.kinds)
        << "the failed identifier is announced once readable";
}

TEST_F(ProductWatchdogTest, RunCyclesUntilInterrupted) {
    CProductWatchdog fast(channel, recorder, recorder, boost::chrono::milliseconds(1));
    channel.pingOk = false;
    boost::thread thread([&] { fast.Run(); });
    EXPECT_TRUE(recorder.WaitForKinds(3)) << "one announcement per cycle while the ping fails";
    thread.interrupt();
    thread.join();
}

}  // namespace
