#pragma once

namespace Zun {
namespace Tools {
namespace Agent {

// A running link to quil-server as the agent drives it (see CServerLink).
class IServerLink {
public:
    virtual ~IServerLink() = default;

    // Checks the bundle and starts the link's thread; throws std::runtime_error naming what is wrong.
    virtual void Start() = 0;
    // New rows were committed.
    virtual void Wake() = 0;
    // Ends the stream and the thread; the link does not come back.
    virtual void Stop() = 0;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
