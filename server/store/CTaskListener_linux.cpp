#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "server/store/CFleetStore.h"
#include "server/store/CServerDatabase.h"
#include "server/store/CTaskListener.h"

namespace Zun {
namespace Server {

namespace {

const int kInfo = 1;
const int kWarn = 2;
// A lost database comes back on its own time; trying every few seconds costs nothing meanwhile.
const int kRetryMilliseconds = 5000;

struct PgFree {
    void operator()(PGconn* connection) const { PQfinish(connection); }
    void operator()(PGresult* result) const { PQclear(result); }
    void operator()(PGnotify* notify) const { PQfreemem(notify); }
};
using Connection = std::unique_ptr<PGconn, PgFree>;
using Result = std::unique_ptr<PGresult, PgFree>;
using Notification = std::unique_ptr<PGnotify, PgFree>;

std::string ErrorOf(PGconn* connection) {
    std::string text = connection ? PQerrorMessage(connection) : "out of memory";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

class CTaskListener::CImpl {
public:
    CImpl(const std::string& location, const std::string& serverId, Queued queued, Missed missed, Log log)
        : m_connection(CServerDatabase::PostgresConnection(location)),
          m_serverId(serverId),
          m_queued(std::move(queued)),
          m_missed(std::move(missed)),
          m_log(std::move(log)) {}

    ~CImpl() { Stop(); }

    void Start() {
        if (pipe2(m_stop, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::runtime_error("the task listener cannot make its pipe");
        }
        m_thread = std::thread([this] { Run(); });
    }

    void Stop() {
        if (m_thread.joinable()) {
            const char byte = 0;
            (void)write(m_stop[1], &byte, 1);
            m_thread.join();
        }
        for (int& fd : m_stop) {
            if (fd >= 0) {
                close(fd);
                fd = -1;
            }
        }
    }

private:
    void Run() {
        while (true) {
            if (Connection connection = Listen()) {
                m_missed();
                Receive(connection.get());
            }
            if (WaitForStop(kRetryMilliseconds)) {
                return;
            }
        }
    }

    Connection Listen() {
        Connection connection(PQconnectdb(m_connection.c_str()));
        if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
            m_log(kWarn, "Task listener: cannot connect to the database: " + ErrorOf(connection.get()));
            return nullptr;
        }
        const Result result(
            PQexec(connection.get(), (std::string("LISTEN ") + CFleetStore::kTaskChannel).c_str()));
        if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            m_log(kWarn, "Task listener: LISTEN failed: " + ErrorOf(connection.get()));
            return nullptr;
        }
        m_log(kInfo, std::string("Task listener: listening on ") + CFleetStore::kTaskChannel +
                         " for tasks queued through other servers");
        return connection;
    }

    // Returns when the connection broke or Stop was called.
    void Receive(PGconn* connection) {
        while (true) {
            pollfd fds[2] = {{PQsocket(connection), POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if (PQconsumeInput(connection) == 0) {
                m_log(kWarn, "Task listener: lost the database: " + ErrorOf(connection));
                return;
            }
            while (Notification notification{PQnotifies(connection)}) {
                Take(notification->extra);
            }
        }
    }

    // "SERVER COMPUTER": what this server announced, it served when it queued the task.
    void Take(const std::string& payload) {
        const std::size_t space = payload.find(' ');
        if (space == std::string::npos || payload.compare(0, space, m_serverId) == 0) {
            return;
        }
        m_queued(payload.substr(space + 1));
    }

    bool WaitForStop(int milliseconds) {
        pollfd fd = {m_stop[0], POLLIN, 0};
        return poll(&fd, 1, milliseconds) > 0;
    }

    std::string m_connection;
    std::string m_serverId;
    Queued m_queued;
    Missed m_missed;
    Log m_log;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

CTaskListener::CTaskListener(const std::string& location, const std::string& serverId, Queued queued,
                             Missed missed, Log log)
    : m_impl(new CImpl(location, serverId, std::move(queued), std::move(missed), std::move(log))) {}

CTaskListener::~CTaskListener() = default;

void CTaskListener::Start() {
    m_impl->Start();
}

void CTaskListener::Stop() {
    m_impl->Stop();
}

}  // namespace Server
}  // namespace Zun
