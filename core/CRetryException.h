#pragma once

#include <stdexcept>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// The product link failed: the worker reconnects and runs the task again. A run ending in this
// failure is counted against the task's two runs unless the restart flag is set.
class CRetryException : public std::runtime_error {
public:
    explicit CRetryException(const std::string& text, bool restart = false)
        : std::runtime_error(text), m_restart(restart) {}

    bool IsRestart() const { return m_restart; }

private:
    bool m_restart;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
