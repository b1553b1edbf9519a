#include "tools/product/CBroadcastPublisher.h"

#include <unistd.h>

#include <future>

#include "channel/CPixlinkChannel.h"
#include "tools/product/ProductConstants.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

using Connectors::Common::Pixlink::CPixlinkChannel;
using Platform::CBroadcastWriter;

// The exit status of a product told to die with its mutex held.
constexpr int kDiedHoldingMutex = 70;

const std::uint32_t kGoodMagic[2] = {0x4c786950, 0x206b6e69};
const std::uint32_t kBadMagic[2] = {0x4c646142, 0x206b6e69};  // "BadLink "

}  // namespace

CBroadcastPublisher::CBroadcastPublisher() {
    m_values.fill(1);
}

CBroadcastPublisher::~CBroadcastPublisher() {
    Stop();
}

bool CBroadcastPublisher::Start(std::uint32_t serverValue, std::string& error) {
    m_writer.reset(new CBroadcastWriter(CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId, kDataSize));
    if (!m_writer->IsOpen()) {
        error = "cannot create the broadcast area " +
                CBroadcastWriter::AreaName(CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId);
        m_writer.reset();
        return false;
    }
    for (unsigned i = 0; i < kValueCount; ++i) {
        m_writer->SetValue(i, m_values[i]);
    }
    m_serverValue = serverValue;
    WriteModules();
    m_thread = std::thread([this] { Loop(); });
    return true;
}

void CBroadcastPublisher::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CBroadcastPublisher::WriteModules() {
    const std::uint32_t otherData[2] = {1, 0};
    const std::uint32_t serverData[2] = {1, m_serverValue};
    ++m_timestamp;
    m_writer->Lock();
    m_writer->WriteData(kOtherUserDataOffset, otherData, sizeof(otherData));
    m_writer->WriteData(kServerUserDataOffset, serverData, sizeof(serverData));
    m_writer->SetModuleTable(kModuleTableOffset, {{kOtherModuleId, 8, kOtherUserDataOffset, 1},
                                                  {kServerModuleId, 8, kServerUserDataOffset, m_timestamp}});
    m_writer->Unlock();
}

std::array<std::uint32_t, 10> CBroadcastPublisher::Values() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_values;
}

void CBroadcastPublisher::Run(const std::function<void(CBroadcastWriter&)>& operation, bool wait) {
    if (!m_thread.joinable()) {
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_operations.push_back([this, operation, done] {
            operation(*m_writer);
            done->set_value();
        });
    }
    m_wake.notify_all();
    if (wait) {
        finished.wait();
    }
}

void CBroadcastPublisher::Loop() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        const auto ready = [this] {
            return m_stopping || !m_operations.empty() || (m_holding && Clock::now() >= m_releaseAt);
        };
        if (m_holding && m_releaseAt != Clock::time_point::max()) {
            m_wake.wait_until(lock, m_releaseAt, ready);
        } else {
            m_wake.wait(lock, ready);
        }
        if (m_holding && Clock::now() >= m_releaseAt) {
            Release();
        }
        if (!m_operations.empty()) {
            const std::function<void()> operation = std::move(m_operations.front());
            m_operations.pop_front();
            lock.unlock();
            operation();
            lock.lock();
        } else if (m_stopping) {
            break;
        }
    }
    if (m_holding) {
        Release();
    }
}

// Called on the area's thread with m_lock held.
void CBroadcastPublisher::Release() {
    m_writer->Unlock();
    m_holding = false;
    m_releaseAt = Clock::time_point::max();
}

// The counter moves at once; the area follows on its own thread, so that a request that announces
// a change is answered without waiting for the area.
void CBroadcastPublisher::Bump(unsigned index) {
    std::uint32_t value = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Readers treat 0xFFFFFFFF as "never seen", so the counter skips it.
        value = ++m_values[index] == 0xFFFFFFFF ? ++m_values[index] : m_values[index];
    }
    Run([index, value](CBroadcastWriter& writer) { writer.SetValue(index, value); }, false);
}

void CBroadcastPublisher::Flush() {
    Run([](CBroadcastWriter&) {});
}

void CBroadcastPublisher::SetServerValue(std::uint32_t value) {
    Run([this, value](CBroadcastWriter&) {
        m_serverValue = value;
        WriteModules();
    });
}

void CBroadcastPublisher::CorruptHeader(bool corrupt) {
    Run([corrupt](CBroadcastWriter& writer) {
        const std::uint32_t version = corrupt ? 1 : 2;
        writer.WriteArea(8, corrupt ? kBadMagic : kGoodMagic, sizeof(kGoodMagic));
        writer.WriteArea(16, &version, sizeof(version));
    });
}

void CBroadcastPublisher::HoldMutex(std::uint32_t holdMs) {
    Run([this, holdMs](CBroadcastWriter& writer) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_holding) {
            writer.Lock();
            m_holding = true;
        }
        m_releaseAt =
            holdMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(holdMs);
    });
}

void CBroadcastPublisher::ReleaseMutex() {
    Run([this](CBroadcastWriter&) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_holding) {
            Release();
        }
    });
}

void CBroadcastPublisher::DieHoldingMutex() {
    Run([](CBroadcastWriter& writer) {
        writer.Lock();
        _exit(kDiedHoldingMutex);
    });
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
