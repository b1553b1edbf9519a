#pragma once

#include <string>

namespace Zun {
namespace Server {

// The administrator's end of the admin socket: one request line, one answer line.
class CAdminClient {
public:
    static constexpr int kTimeoutMilliseconds = 30000;

    explicit CAdminClient(std::string path) : m_path(std::move(path)) {}

    // Throws std::runtime_error when no server answers on the socket.
    std::string Request(const std::string& line) const;

private:
    std::string m_path;
};

}  // namespace Server
}  // namespace Zun
