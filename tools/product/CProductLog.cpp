#include "tools/product/CProductLog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace Zun {
namespace Tools {
namespace Product {

namespace {

std::mutex g_lock;
std::atomic<bool> g_enabled{true};
// The innermost gathering of this thread, if any.
thread_local CProductLog::CGathered* t_gathered = nullptr;

const char* LevelName(CProductLog::Level level) {
    switch (level) {
        case CProductLog::kWarning:
            return "WARN ";
        case CProductLog::kError:
            return "ERROR";
        default:
            return "INFO ";
    }
}

std::string Line(CProductLog::Level level, const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[48];
    const std::size_t length = std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + length, sizeof(stamp) - length, ".%03ldZ ", millis);
    return std::string(stamp) + LevelName(level) + " quil-product: " + text + "\n";
}

}  // namespace

CProductLog::CGathered::CGathered() : m_outer(t_gathered) {
    t_gathered = this;
}

CProductLog::CGathered::~CGathered() {
    t_gathered = m_outer;
    if (!m_lines.empty()) {
        m_outer != nullptr ? void(m_outer->m_lines += m_lines) : Emit(m_lines);
    }
}

void CProductLog::Write(Level level, const std::string& text) {
    if (!g_enabled) {
        return;
    }
    const std::string line = Line(level, text);
    if (t_gathered != nullptr) {
        t_gathered->m_lines += line;
        return;
    }
    Emit(line);
}

// Standard error is unbuffered: one call, one write.
void CProductLog::Emit(const std::string& lines) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::fwrite(lines.data(), 1, lines.size(), stderr);
    std::fflush(stderr);
}

void CProductLog::SetEnabled(bool enabled) {
    g_enabled = enabled;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
