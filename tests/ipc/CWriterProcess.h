#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Zun {
namespace IpcTest {

// The broadcast_writer program in a child process; see BroadcastWriterMain.cpp. The child is
// killed when the object goes away.
class CWriterProcess {
public:
    explicit CWriterProcess(const std::vector<std::string>& scenario);
    ~CWriterProcess();
    CWriterProcess(const CWriterProcess&) = delete;
    CWriterProcess& operator=(const CWriterProcess&) = delete;

    // True once the writer said that its area is ready; false when it ended instead.
    bool IsReady() const { return m_ready; }
    // Ends the writer at once, as a crash would: a mutex it holds is left abandoned.
    void Kill();

private:
    struct Child;  // the process and its pipes
    std::unique_ptr<Child> m_child;
    bool m_ready = false;
};

}  // namespace IpcTest
}  // namespace Zun
