#pragma once

#include <string>

namespace Zun {
namespace Tools {
namespace Product {

// The product's log: one line per event on standard error, with UTC time and level. Callers never
// pass recovery material; requests are described by command, function and size only.
class CProductLog {
public:
    enum Level { kInfo, kWarning, kError };

    // The lines this thread writes while one lives go out together, in one write, when it ends: a
    // request that queues a task result logs two lines, and a write each was a tenth of its cost.
    class CGathered {
    public:
        CGathered();
        ~CGathered();
        CGathered(const CGathered&) = delete;
        CGathered& operator=(const CGathered&) = delete;

    private:
        friend class CProductLog;
        std::string m_lines;
        CGathered* m_outer;
    };

    static void Write(Level level, const std::string& text);
    static void Info(const std::string& text) { Write(kInfo, text); }
    static void Warning(const std::string& text) { Write(kWarning, text); }
    static void Error(const std::string& text) { Write(kError, text); }
    // Tests keep their output quiet.
    static void SetEnabled(bool enabled);

private:
    static void Emit(const std::string& lines);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
