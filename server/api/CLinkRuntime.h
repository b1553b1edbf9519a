#pragma once

namespace Zun {
namespace Server {

// What a process that runs the link (the server, the agent's link, the fleet bench) sets up before
// it makes its first gRPC object.
class CLinkRuntime {
public:
    // Debian builds abseil without NDEBUG, so every absl::Mutex that gRPC locks keeps a node in one
    // process-wide lock-order graph, for deadlock detection. With 10,000 agents connected, finding
    // a mutex in that graph took a tenth of the server's CPU. Off, as in abseil's release builds.
    static void Prepare();
};

}  // namespace Server
}  // namespace Zun
