#pragma once

#include <string>

namespace Zun {
namespace Connectors {
namespace Common {

// Asks the worker to reconnect and run the task again without counting the run. Deliberately not a
// std::exception, so that handlers of ordinary failures can never swallow it.
class CRestartNeededException {
public:
    explicit CRestartNeededException(std::string text) : m_text(std::move(text)) {}
    virtual ~CRestartNeededException() = default;

    const char* what() const noexcept { return m_text.c_str(); }

private:
    std::string m_text;
};

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
