#include "channel/CPixlinkChannelAdapter.h"

#include <boost/thread/thread.hpp>
#include <stdexcept>

#include "channel/CPixlinkErrorReplyException.h"
#include "core/CErrorReplyChannelException.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

void CPixlinkChannelAdapter::Start() {
    std::string error;
    for (int attempt = 0; attempt < StartAttempts; ++attempt) {
        error.clear();
        if (Ping(error)) {
            return;
        }
        boost::this_thread::sleep_for(m_pingPause);
    }
    throw std::runtime_error("Cannot start pixlink channel: " + error);
}

void CPixlinkChannelAdapter::SendRequest(const std::vector<uint8_t>& request) {
    CPixlinkChannelBuffer reply;
    try {
        CPixlinkChannel::SendRequest(request, reply);
    } catch (const CPixlinkErrorReplyException& e) {
        throw CErrorReplyChannelException(e.what(), e.GetStatus());
    }
    // The receiver is held for the whole call: it may replace itself on the channel meanwhile.
    const boost::shared_ptr<IBufferReceiver> receiver = m_receiver;
    if (receiver) {
        receiver->Receive(reply.Bytes());
    }
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
