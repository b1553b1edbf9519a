#include "tools/agent/control/CControlServer.h"

namespace Zun {
namespace Tools {
namespace Agent {

// The Windows agent takes its tasks from standard input only.
CControlServer::CControlServer(std::string path, Handler handler, Common::Kernel::ILoggerResource& logger)
    : m_path(std::move(path)), m_handler(std::move(handler)), m_logger(logger) {}

CControlServer::~CControlServer() = default;

bool CControlServer::IsAvailable() {
    return false;
}

size_t CControlServer::MaxPathLength() {
    return 0;
}

void CControlServer::Bind() {}

void CControlServer::Start() {}

void CControlServer::Stop() {}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
