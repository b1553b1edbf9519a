#include "tools/demo/CChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>

namespace Zun {
namespace Tools {
namespace Demo {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void Pipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("Cannot create a pipe");
    }
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void Exec(const std::vector<char*>& argv, int in, int out, int err, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);  // the parent died before the request took effect
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
}

// A condition may also turn on what a child writes to a file without saying so (the agent's marks of
// tasks it hands over): no wait for output lasts longer than this before the condition is tested again.
constexpr int kRecheckMs = 50;

int Remaining(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

}  // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& arguments, const std::string& copyFile) {
    if (!copyFile.empty()) {
        m_copy = open(copyFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    int in[2], out[2], err[2];
    Pipe(in);
    Pipe(out);
    Pipe(err);
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        Exec(argv, in[0], out[1], err[1], parent);
    }
    for (int fd : {in[0], out[1], err[1]}) {
        close(fd);
    }
    m_input = in[1];
    m_outputPipe = out[0];
    m_errorPipe = err[0];
    if (m_pid < 0) {
        throw std::runtime_error("Cannot start " + arguments[0]);
    }
}

CChildProcess::~CChildProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_input, m_outputPipe, m_errorPipe, m_copy}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void CChildProcess::WriteInput(const std::string& text) {
    // A child that has gone away must not take this process with it through SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    if (m_input < 0 || write(m_input, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("Cannot write to the child's input");
    }
}

void CChildProcess::CloseInput() {
    if (m_input >= 0) {
        close(m_input);
        m_input = -1;
    }
}

void CChildProcess::Signal(int number) {
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

int CChildProcess::WaitForExit(Deadline deadline) {
    if (m_pid <= 0) {
        return -1;
    }
    // Both pipes reach their end when the child is gone (or has handed them on, which ours do not).
    WaitUntil(
        {this}, [this] { return m_outputPipe < 0 && m_errorPipe < 0; }, deadline);
    int status = 0;
    if (waitpid(m_pid, &status, m_outputPipe < 0 && m_errorPipe < 0 ? 0 : WNOHANG) != m_pid) {
        return -1;
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void CChildProcess::Read(int& fd, std::string& into) {
    char chunk[4096];
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got <= 0) {
        close(fd);
        fd = -1;
        return;
    }
    into.append(chunk, static_cast<size_t>(got));
    if (m_copy >= 0 && write(m_copy, chunk, static_cast<size_t>(got)) != got) {
        close(m_copy);  // a full disk costs the copy, not the run
        m_copy = -1;
    }
}

bool CChildProcess::Pump(const std::vector<CChildProcess*>& children, Deadline until) {
    std::vector<pollfd> fds;
    std::vector<std::pair<CChildProcess*, bool>> owners;  // child, is standard error
    for (CChildProcess* child : children) {
        for (bool error : {false, true}) {
            const int fd = error ? child->m_errorPipe : child->m_outputPipe;
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.push_back({child, error});
            }
        }
    }
    if (fds.empty()) {
        return false;
    }
    if (poll(fds.data(), fds.size(), std::min(Remaining(until), kRecheckMs)) <= 0) {
        return true;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            CChildProcess& child = *owners[i].first;
            owners[i].second ? child.Read(child.m_errorPipe, child.m_errors)
                             : child.Read(child.m_outputPipe, child.m_output);
        }
    }
    return true;
}

bool CChildProcess::WaitUntil(const std::vector<CChildProcess*>& children,
                              const std::function<bool()>& condition, Deadline deadline) {
    while (!Interrupted()) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline || !Pump(children, deadline)) {
            return !Interrupted() && condition();
        }
    }
    return false;
}

int CChildProcess::Run(const std::vector<std::string>& argv, std::string& output, Deadline deadline,
                       const std::string& input) {
    CChildProcess child(argv);
    child.WriteInput(input);
    child.CloseInput();
    const int code = child.WaitForExit(deadline);
    output = child.Output() + child.Errors();
    return code;
}

void CChildProcess::RequestInterrupt() {
    g_interrupted = 1;
}

bool CChildProcess::Interrupted() {
    return g_interrupted != 0;
}

}  // namespace Demo
}  // namespace Tools
}  // namespace Zun
