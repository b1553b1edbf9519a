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

}  // namespace

void CProductLog::Write(Level level, const std::string& text) {
    if (!g_enabled) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &utc);
    std::lock_guard<std::mutex> guard(g_lock);
    std::fprintf(stderr, "%s.%03ldZ %s quil-product: %s\n", stamp, millis, LevelName(level), text.c_str());
    std::fflush(stderr);
}

void CProductLog::SetEnabled(bool enabled) {
    g_enabled = enabled;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
