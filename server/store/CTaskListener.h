#pragma once

#include <functional>
#include <memory>
#include <string>

namespace Zun {
namespace Server {

// Where several servers share one PostgreSQL database, an administrator's task may be queued
// through one server for a computer whose link another holds. Each server listens on the store's
// task channel (LISTEN/NOTIFY, on a libpq connection of its own) and hands on the computers that
// other servers announced; its own announcements it has served already.
//
// Notifications reach only connected listeners: after a (re)connection the listener says that some
// may have been missed, so that the server has every stream look at its queue once.
class CTaskListener {
public:
    using Queued = std::function<void(const std::string& computer)>;
    using Missed = std::function<void()>;
    // level: 0 debug, 1 info, 2 warn, 3 error.
    using Log = std::function<void(int level, const std::string& text)>;

    // location: the server's PostgreSQL database (CServerDatabase's syntax).
    CTaskListener(const std::string& location, const std::string& serverId, Queued queued, Missed missed,
                  Log log);
    ~CTaskListener();
    CTaskListener(const CTaskListener&) = delete;
    CTaskListener& operator=(const CTaskListener&) = delete;

    // Starts the listening thread; it connects (and reconnects) on its own.
    void Start();
    void Stop();

private:
    class CImpl;
    std::unique_ptr<CImpl> m_impl;
};

}  // namespace Server
}  // namespace Zun
