#pragma once

#include <cstdint>
#include <vector>

#include "platform/CPixlinkPortServer.h"
#include "tests/ipc/IpcIds.h"
#include "tests/ipc/TestCommands.h"

namespace Zun {
namespace IpcTest {

// The product stand-in of the tests: serves one port kind in a loop, in a child process.
class CTestProduct {
public:
    explicit CTestProduct(std::uint32_t kind);
    // Signals readiness and serves until killed.
    void Serve();

private:
    void Handle(const Platform::CPortRequest& request);
    void Report(const Platform::CPortRequest& request, const std::vector<std::uint8_t>& bytes);
    void Malformed(const Platform::CPortRequest& request, std::uint32_t which);

    std::uint32_t m_kind;
    Platform::CPixlinkPortServer m_server;
    std::uint32_t m_datagrams = 0;
    bool m_holding = false;
    Platform::CPortRequest m_held;
};

}  // namespace IpcTest
}  // namespace Zun
