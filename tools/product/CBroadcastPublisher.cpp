#include "tools/product/CBroadcastPublisher.h"

#include <unistd.h>

#include <algorithm>
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
// Counters that move faster than this are written to the area together: a wake of the area's thread
// per queued task result cost as much as the rest of the request.
constexpr std::chrono::milliseconds kValueCoalescing(1);

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
        const bool ready =
            m_stopping || !m_operations.empty() || (m_holding && Clock::now() >= m_releaseAt) || ValuesDue();
        if (!ready) {
            // What to wait for changes with every wake (a counter moved, a hold began): look again.
            Clock::time_point until = m_holding ? m_releaseAt : Clock::time_point::max();
            if (m_dirtyValues != 0) {
                until = std::min(until, m_valuesDue);
            }
            if (until == Clock::time_point::max()) {
                m_wake.wait(lock);
            } else {
                m_wake.wait_until(lock, until);
            }
            continue;
        }
        if (m_holding && Clock::now() >= m_releaseAt) {
            Release();
        }
        // Counters moved before an operation was asked for reach the area before it runs.
        if (m_dirtyValues != 0 && (ValuesDue() || !m_operations.empty() || m_stopping)) {
            WriteValues(lock);
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

// Called with m_lock held.
bool CBroadcastPublisher::ValuesDue() const {
    return m_dirtyValues != 0 && Clock::now() >= m_valuesDue;
}

// Called on the area's thread with m_lock held, which it lets go of while it writes.
void CBroadcastPublisher::WriteValues(std::unique_lock<std::mutex>& lock) {
    const std::array<std::uint32_t, 10> values = m_values;
    const std::uint32_t dirty = m_dirtyValues;
    m_dirtyValues = 0;
    m_valuesDue = Clock::now() + kValueCoalescing;
    lock.unlock();
    for (unsigned i = 0; i < values.size(); ++i) {
        if ((dirty & (1u << i)) != 0) {
            m_writer->SetValue(i, values[i]);
        }
    }
    lock.lock();
}

// Called on the area's thread with m_lock held.
void CBroadcastPublisher::Release() {
    m_writer->Unlock();
    m_holding = false;
    m_releaseAt = Clock::time_point::max();
}

// The counter moves at once; the area follows on its own thread, so that a request that announces
// a change is answered without waiting for the area. The thread is woken only for the first counter
// to move since its last write; Flush() waits for what moved before it.
void CBroadcastPublisher::Bump(unsigned index) {
    if (index >= m_values.size()) {
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // Readers treat 0xFFFFFFFF as "never seen", so the counter skips it.
        if (++m_values[index] == 0xFFFFFFFF) {
            ++m_values[index];
        }
        wake = m_dirtyValues == 0;
        m_dirtyValues |= 1u << index;
    }
    if (wake) {
        m_wake.notify_all();
    }
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
