#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CPixlinkPortServer.h"
#include "tools/product/CFaultPlan.h"
#include "tools/product/CProduct.h"

namespace Zun {
namespace Tools {
namespace Product {

// Serves the product's ports, one thread per port: answers pings, hands framed requests to the
// product and applies the queued faults on the way.
class CProductServer {
public:
    CProductServer(CProduct& product, CFaultPlan& faults);
    ~CProductServer();
    CProductServer(const CProductServer&) = delete;
    CProductServer& operator=(const CProductServer&) = delete;

    // Opens the ALPC port (unless lpcOnly) and the LPC port; false with error when one cannot listen.
    bool Start(bool lpcOnly, std::string& error);
    void Stop();

    // What `status` reports: the ports served and how much the module asked of them.
    struct Activity {
        std::string Ports;
        std::uint64_t Pings = 0;
        std::uint64_t Requests = 0;
    };
    Activity Counts() const;

private:
    // Waits out a hang fault; true when the server stopped meanwhile.
    bool HangUnlessStopped(std::chrono::milliseconds hang);
    void Serve(Platform::CPixlinkPortServer& port);
    void Handle(Platform::CPixlinkPortServer& port, const Platform::CPortRequest& request);
    void AnswerRequest(Platform::CPixlinkPortServer& port, const Platform::CPortRequest& request);
    void Misbehave(Platform::CPixlinkPortServer& port, const Platform::CPortRequest& request,
                   const Fault& fault, const std::vector<std::uint8_t>& payload);

    CProduct& m_product;
    CFaultPlan& m_faults;
    std::vector<std::unique_ptr<Platform::CPixlinkPortServer>> m_ports;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stopping{false};
    // Wakes a request held by a hang fault when the server stops.
    std::mutex m_stopLock;
    std::condition_variable m_stopped;
    bool m_lpcOnly = false;
    std::atomic<std::uint64_t> m_pings{0};
    std::atomic<std::uint64_t> m_requests{0};
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
