#pragma once

#include <sys/socket.h>
#include <unistd.h>

namespace Zun {
namespace Tools {
namespace Agent {

// The user at the other end of a connected local socket; -1 when the system cannot tell. Both
// ends of the control socket insist on their own user: whoever can bind or connect to the name
// proves nothing, the kernel's record of the peer does.
inline long PeerUid(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return -1;
    }
    return static_cast<long>(credentials.uid);
}

inline bool IsOwnUser(long uid) {
    return uid >= 0 && static_cast<uid_t>(uid) == geteuid();
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
