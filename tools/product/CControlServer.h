#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "tools/product/CControlDispatcher.h"

namespace Zun {
namespace Tools {
namespace Product {

// The control socket: a Unix stream socket speaking JSON lines, one client at a time. A client that
// goes quiet or sends an endless line is dropped, so it cannot stall the product.
class CControlServer {
public:
    CControlServer(std::string path, CControlDispatcher& dispatcher);
    ~CControlServer();
    CControlServer(const CControlServer&) = delete;
    CControlServer& operator=(const CControlServer&) = delete;

    // Refuses a path where another product still answers; replaces a stale socket.
    bool Start(std::string& error);
    void Stop();

    static constexpr std::size_t kMaxLine = 4 * 1024 * 1024;

private:
    void Loop();
    void Serve(int client);
    static bool SendLine(int client, const std::string& line);

    std::string m_path;
    CControlDispatcher& m_dispatcher;
    int m_listener = -1;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
