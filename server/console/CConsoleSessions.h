#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace Zun {
namespace Server {

// The console's signed-in sessions, in memory: a restart signs everyone out. The browser holds a
// random token; the server keeps only its SHA-256, so that what it holds opens no session. Each
// session has its own CSRF token, which every form carries back. A session ends after an idle
// while or a working day, whichever comes first.
class CConsoleSessions {
public:
    static constexpr int kIdleMinutes = 15;
    static constexpr int kLifetimeHours = 8;
    static const std::size_t kMaxSessions = 1000;

    struct Session {
        std::string user;
        std::string role;
        std::string csrf;
    };
    struct Opened {
        std::string token;
        Session session;
    };

    // Drops the oldest session when kMaxSessions are open.
    Opened Open(const std::string& user, const std::string& role);
    // Whether the token names a live session; refreshes its idle time.
    bool Find(const std::string& token, Session& session);
    void Close(const std::string& token);
    // Ends every session of the account: its role changed or it is gone.
    void CloseAllOf(const std::string& user);

    // A new random token (hex of 32 bytes), also for the sign-in form's own CSRF pair.
    static std::string NewToken();
    // Whether the text has the form of a token (what NewToken makes).
    static bool IsToken(const std::string& text);
    // Compares in time that does not depend on where the texts differ.
    static bool SameToken(const std::string& a, const std::string& b);

private:
    typedef std::chrono::steady_clock Clock;
    struct Entry {
        Session session;
        Clock::time_point opened;
        Clock::time_point used;
    };

    static std::string Digest(const std::string& token);
    void DropExpired(Clock::time_point now);

    std::mutex m_lock;
    std::map<std::string, Entry> m_sessions;
};

}  // namespace Server
}  // namespace Zun
