#pragma once

#include <sys/types.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <string>
#include <vector>

namespace Zun {
namespace Testing {

// The real quil-product binary serving in a child process. Its standard error is read all along
// (so the product never blocks on a full pipe) and kept for the test to search.
class CProductProcess {
public:
    // binary: path of quil-product; options follow "serve".
    CProductProcess(std::string binary, const std::vector<std::string>& options);
    ~CProductProcess();
    CProductProcess(const CProductProcess&) = delete;
    CProductProcess& operator=(const CProductProcess&) = delete;

    // True once the product said it serves, within the deadline.
    bool WaitUntilServing(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Kills the product (SIGKILL) and reaps it.
    void Kill();
    // The exit status of a product that ends by itself within the deadline (it has closed its
    // standard error by then); -1 when it is still running or died of a signal.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string Output();
    pid_t Pid() const { return m_pid; }

    // "quil-product <arguments>" with input on its standard input: the exit status and what it
    // printed on standard output.
    static std::pair<int, std::string> Run(const std::string& binary,
                                           const std::vector<std::string>& arguments,
                                           const std::string& input = std::string());
    // "quil-product <arguments>": the exit status and what it printed on standard error.
    static std::pair<int, std::string> RunForErrors(const std::string& binary,
                                                    const std::vector<std::string>& arguments);

private:
    void ReadOutput(int fd);

    pid_t m_pid = -1;
    boost::mutex m_lock;
    boost::condition_variable m_changed;
    std::string m_output;
    bool m_ended = false;
    boost::thread m_reader;
};

}  // namespace Testing
}  // namespace Zun
