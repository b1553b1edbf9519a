#include "tests/ipc/CWriterProcess.h"

#include <Poco/Exception.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>

#include <stdexcept>

#include "tests/ipc/IpcIds.h"

namespace Zun {
namespace IpcTest {

struct CWriterProcess::Child {
    Poco::Pipe input;
    Poco::Pipe output;
    std::unique_ptr<Poco::ProcessHandle> process;
};

CWriterProcess::CWriterProcess(const std::vector<std::string>& scenario) : m_child(new Child) {
    std::vector<std::string> args = {std::to_string(kLocalId), std::to_string(kRemoteId),
                                     std::to_string(kBroadcastDataSize)};
    args.insert(args.end(), scenario.begin(), scenario.end());
    try {
        m_child->process.reset(new Poco::ProcessHandle(
            Poco::Process::launch(QUIL_BROADCAST_WRITER, args, &m_child->input, &m_child->output, nullptr)));
    } catch (const Poco::Exception& e) {
        throw std::runtime_error(e.displayText());
    }
    // A writer that fails ends, which closes its output: no deadline is needed here.
    Poco::PipeInputStream output(m_child->output);
    std::string line;
    m_ready = std::getline(output, line) && line.rfind("ready", 0) == 0;
}

CWriterProcess::~CWriterProcess() {
    Kill();
}

void CWriterProcess::Kill() {
    if (m_child->process == nullptr) {
        return;
    }
    try {
        Poco::Process::kill(*m_child->process);
        m_child->process->wait();
    } catch (const Poco::Exception&) {
        // It ended already; or, on Windows, killing it closed the handle to wait on.
    }
    m_child->process.reset();
    m_child->input.close();
}

}  // namespace IpcTest
}  // namespace Zun
