#pragma once

#include <cstddef>

namespace Zun {
namespace Server {

// Every TLS connection of the server process gives its record buffers back while it is idle
// (OpenSSL's SSL_MODE_RELEASE_BUFFERS). gRPC makes its SSL objects itself and offers no setting
// for this, so the server takes OpenSSL's SSL_new in its own image and sets the mode on each SSL
// object it returns. An agent sends a few hundred bytes a minute, so its connection is idle nearly
// always; at ten thousand agents the buffers held came to about a tenth of the server's memory.
class CTlsRecordBuffers {
public:
    // How many SSL objects of this process have been set to release their buffers. A link that
    // made connections while this stays 0 is not going through the server's SSL_new: then gRPC
    // links OpenSSL in some other way and the setting no longer applies.
    static std::size_t Released();
};

}  // namespace Server
}  // namespace Zun
