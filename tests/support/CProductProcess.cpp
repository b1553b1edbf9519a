#include "tests/support/CProductProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Zun {
namespace Testing {

namespace {

// Starts arguments[0] with `stream` on a pipe and, when input is given, standard input on another
// that holds it; returns the pid and the reading end of the first pipe.
std::pair<pid_t, int> Spawn(const std::vector<std::string>& arguments, int stream, int input = -1) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {-1, -1};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], stream);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    return {pid, fds[0]};
}

int Reap(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace

CProductProcess::CProductProcess(std::string binary, const std::vector<std::string>& options) {
    std::vector<std::string> arguments{std::move(binary), "serve"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const auto child = Spawn(arguments, STDERR_FILENO);
    m_pid = child.first;
    if (child.second >= 0) {
        m_reader = boost::thread([this, fd = child.second] { ReadOutput(fd); });
    }
}

CProductProcess::~CProductProcess() {
    Kill();
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void CProductProcess::ReadOutput(int fd) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        boost::lock_guard<boost::mutex> guard(m_lock);
        m_output.append(buffer, static_cast<size_t>(got));
        m_changed.notify_all();
    }
    close(fd);
    boost::lock_guard<boost::mutex> guard(m_lock);
    m_ended = true;
    m_changed.notify_all();
}

bool CProductProcess::WaitUntilServing(std::chrono::milliseconds timeout) {
    boost::unique_lock<boost::mutex> guard(m_lock);
    return m_changed.wait_for(guard, boost::chrono::milliseconds(timeout.count()), [this] {
        return m_ended || m_output.find("serving") != std::string::npos;
    }) && !m_ended;
}

void CProductProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Reap(m_pid);
        m_pid = -1;
    }
}

int CProductProcess::WaitForExit(std::chrono::milliseconds timeout) {
    {
        boost::unique_lock<boost::mutex> guard(m_lock);
        if (!m_changed.wait_for(guard, boost::chrono::milliseconds(timeout.count()),
                                [this] { return m_ended; })) {
            return -1;
        }
    }
    const int status = Reap(m_pid);
    m_pid = -1;
    return status;
}

std::string CProductProcess::Output() {
    boost::lock_guard<boost::mutex> guard(m_lock);
    return m_output;
}

std::pair<int, std::string> CProductProcess::Run(const std::string& binary,
                                                 const std::vector<std::string>& arguments,
                                                 const std::string& input) {
    std::vector<std::string> all{binary};
    all.insert(all.end(), arguments.begin(), arguments.end());
    // Small enough for the pipe to hold whole, so it is written before the child starts.
    int fds[2] = {-1, -1};
    if (!input.empty() &&
        (pipe(fds) != 0 || write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))) {
        return {-1, std::string()};
    }
    if (fds[1] >= 0) {
        close(fds[1]);
    }
    const auto child = Spawn(all, STDOUT_FILENO, fds[0]);
    if (fds[0] >= 0) {
        close(fds[0]);
    }
    const std::string output = child.second >= 0 ? ReadAll(child.second) : std::string();
    if (child.second >= 0) {
        close(child.second);
    }
    return {Reap(child.first), output};
}

std::pair<int, std::string> CProductProcess::RunForErrors(const std::string& binary,
                                                          const std::vector<std::string>& arguments) {
    std::vector<std::string> all{binary};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto child = Spawn(all, STDERR_FILENO);
    const std::string errors = child.second >= 0 ? ReadAll(child.second) : std::string();
    if (child.second >= 0) {
        close(child.second);
    }
    return {Reap(child.first), errors};
}

}  // namespace Testing
}  // namespace Zun
