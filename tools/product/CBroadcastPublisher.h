#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/CBroadcastWriter.h"
#include "tools/product/IBroadcastArea.h"

namespace Zun {
namespace Tools {
namespace Product {

// Owns the broadcast area and writes it from one thread of its own. The area's mutex is recursive
// and owned per thread, so a held mutex (a fault) blocks the module's reads but not the product's
// own writes, which run on the thread that holds it.
class CBroadcastPublisher : public IBroadcastArea {
public:
    static constexpr std::uint32_t kDataSize = 256;
    static constexpr std::uint32_t kModuleTableOffset = 84;
    static constexpr std::uint32_t kOtherModuleId = 0x1001000;
    static constexpr std::uint32_t kServerModuleId = 0x1004000;
    static constexpr std::uint32_t kOtherUserDataOffset = 192;
    static constexpr std::uint32_t kServerUserDataOffset = 200;

    CBroadcastPublisher();
    ~CBroadcastPublisher() override;
    CBroadcastPublisher(const CBroadcastPublisher&) = delete;
    CBroadcastPublisher& operator=(const CBroadcastPublisher&) = delete;

    // Creates the area with every value at 1 and the module table; false with error on failure.
    bool Start(std::uint32_t serverValue, std::string& error);
    void Stop();
    std::array<std::uint32_t, 10> Values() const override;

    void Bump(unsigned index) override;
    void Flush() override;
    void SetServerValue(std::uint32_t value) override;
    void CorruptHeader(bool corrupt) override;
    void HoldMutex(std::uint32_t holdMs) override;
    void ReleaseMutex() override;
    void DieHoldingMutex() override;

private:
    typedef std::chrono::steady_clock Clock;

    // Runs operation on the area's thread; waits for it unless wait is false.
    void Run(const std::function<void(Platform::CBroadcastWriter&)>& operation, bool wait = true);
    void Loop();
    bool ValuesDue() const;
    void WriteValues(std::unique_lock<std::mutex>& lock);
    void WriteModules();
    void Release();

    std::unique_ptr<Platform::CBroadcastWriter> m_writer;
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_operations;
    bool m_stopping = false;
    bool m_holding = false;
    Clock::time_point m_releaseAt = Clock::time_point::max();
    std::array<std::uint32_t, 10> m_values{};
    // Counters moved since the area last got them, one bit each, and when it may get them next.
    std::uint32_t m_dirtyValues = 0;
    Clock::time_point m_valuesDue = Clock::time_point::min();
    std::uint32_t m_serverValue = 0;
    std::uint32_t m_timestamp = 0;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
