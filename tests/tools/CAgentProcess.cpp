#include "tests/tools/CAgentProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace Zun {
namespace Testing {

namespace {

void Pipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
}

}  // namespace

CAgentProcess::CAgentProcess(const std::string& binary, const std::vector<std::string>& arguments) {
    int in[2], out[2], err[2];
    Pipe(in);
    Pipe(out);
    Pipe(err);
    std::vector<char*> argv = {const_cast<char*>(binary.c_str())};
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_input = in[1];
    m_outputPipe = out[0];
    m_errorPipe = err[0];
}

CAgentProcess::~CAgentProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_input, m_outputPipe, m_errorPipe}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void CAgentProcess::WriteInput(const std::string& text) {
    if (write(m_input, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the agent");
    }
}

void CAgentProcess::CloseInput() {
    close(m_input);
    m_input = -1;
}

void CAgentProcess::Signal(int number) {
    kill(m_pid, number);
}

bool CAgentProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    return WaitFor(text, "errors", timeout);
}

bool CAgentProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return WaitFor(text, "output", timeout);
}

bool CAgentProcess::WaitFor(const std::string& text, const std::string& stream,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string& seen = stream == "errors" ? m_errors : m_output;
    while (seen.find(text) == std::string::npos) {
        if (!Pump(deadline) || std::chrono::steady_clock::now() >= deadline) {
            return seen.find(text) != std::string::npos;
        }
    }
    return true;
}

bool CAgentProcess::Pump(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{m_outputPipe, POLLIN, 0}, {m_errorPipe, POLLIN, 0}};
    if (m_outputPipe < 0 && m_errorPipe < 0) {
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (poll(fds, 2, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) {
        return true;
    }
    int* pipes[2] = {&m_outputPipe, &m_errorPipe};
    std::string* buffers[2] = {&m_output, &m_errors};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = read(*pipes[i], chunk, sizeof chunk);
        if (got <= 0) {
            close(*pipes[i]);
            *pipes[i] = -1;
        } else {
            buffers[i]->append(chunk, static_cast<size_t>(got));
        }
    }
    return true;
}

int CAgentProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // The pipes reach their end when the process is gone.
    while (Pump(deadline)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int CAgentProcess::Run(const std::string& binary, const std::vector<std::string>& arguments,
                       std::string& output, std::string& errors, std::chrono::milliseconds timeout) {
    CAgentProcess process(binary, arguments);
    process.CloseInput();
    const int code = process.WaitForExit(timeout);
    output = process.Output();
    errors = process.Errors();
    return code;
}

}  // namespace Testing
}  // namespace Zun
