#include "server/console/CConsoleSessions.h"

#include <sodium.h>

#include <stdexcept>

namespace Zun {
namespace Server {

namespace {

const std::size_t kTokenBytes = 32;

std::string Hex(const unsigned char* bytes, std::size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(&hex[0], hex.size(), bytes, size);
    hex.resize(size * 2);
    return hex;
}

}  // namespace

std::string CConsoleSessions::NewToken() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium cannot start");
    }
    unsigned char bytes[kTokenBytes];
    randombytes_buf(bytes, sizeof bytes);
    return Hex(bytes, sizeof bytes);
}

bool CConsoleSessions::IsToken(const std::string& text) {
    return text.size() == kTokenBytes * 2 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool CConsoleSessions::SameToken(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string CConsoleSessions::Digest(const std::string& token) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(token.data()), token.size());
    return Hex(digest, sizeof digest);
}

CConsoleSessions::Opened CConsoleSessions::Open(const std::string& user, const std::string& role) {
    Opened opened;
    opened.token = NewToken();
    opened.session = {user, role, NewToken()};
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    DropExpired(now);
    if (m_sessions.size() >= kMaxSessions) {
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
            oldest = it->second.opened < oldest->second.opened ? it : oldest;
        }
        m_sessions.erase(oldest);
    }
    m_sessions[Digest(opened.token)] = {opened.session, now, now};
    return opened;
}

bool CConsoleSessions::Find(const std::string& token, Session& session) {
    if (!IsToken(token)) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(m_lock);
    DropExpired(now);
    const auto found = m_sessions.find(Digest(token));
    if (found == m_sessions.end()) {
        return false;
    }
    found->second.used = now;
    session = found->second.session;
    return true;
}

void CConsoleSessions::Close(const std::string& token) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sessions.erase(Digest(token));
}

void CConsoleSessions::CloseAllOf(const std::string& user) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = it->second.session.user == user ? m_sessions.erase(it) : std::next(it);
    }
}

void CConsoleSessions::DropExpired(Clock::time_point now) {
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        const bool idle = now - it->second.used > std::chrono::minutes(kIdleMinutes);
        const bool old = now - it->second.opened > std::chrono::hours(kLifetimeHours);
        it = idle || old ? m_sessions.erase(it) : std::next(it);
    }
}

}  // namespace Server
}  // namespace Zun
