// A hostile product on the request port: every request the client sends is answered with a reply
// message built from the input, inline, with a section view (ALPC) or written into the client's reply
// buffer (LPC). The client must return a result code for anything it receives, never read or write
// outside its buffers, and report no more reply bytes than the caller's buffer holds.
//
// The product runs on a thread of the fuzzing process, so one input costs one round trip. Built
// once for each port kind (QUIL_FUZZ_LPC selects the legacy client).
#include <stdlib.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CFuzzInput.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/CPixlinkPortServer.h"
#include "platform/CPortServer.h"
#include "platform/PixlinkProtocol.h"

namespace {

using namespace Zun::Connectors::Common::Pixlink;
using Zun::Platform::CPixlinkPortServer;
using Zun::Platform::CPortRequest;

#ifdef QUIL_FUZZ_LPC
typedef CPixlinkClientNt<Zun::Platform::ULONG64> Client;
constexpr std::uint32_t kKind = Zun::Platform::kPortLpc;
#else
typedef CPixlinkAlpcClient Client;
constexpr std::uint32_t kKind = Zun::Platform::kPortAlpc;
#endif

constexpr std::uint32_t kLocalId = 0x7A7A0001;
constexpr std::uint32_t kRemoteId = 0x7A7A0002;

// Bits of the first input byte.
enum Shape : std::uint8_t {
    kFramed = 0x01,        // the message is built by ReplyMessage from result, length and bytes
    kWithView = 0x02,      // the tail travels as a section view (ALPC) or into reply buffer 1 (LPC)
    kOddViewFlags = 0x04,  // the view goes with flags from the input instead of the reply flag
    kToBuffer = 0x08,      // the caller uses RequestToBuffer rather than a fixed buffer
    kLargeRequest = 0x10,  // the request is too large to travel inline
};

// What the product answers with, taken apart from one input.
struct Answer {
    std::uint8_t shape = 0;
    std::uint32_t result = 0;
    std::uint32_t length = 0;
    std::uint32_t viewFlags = 0;
    std::uint32_t capacity = 0;
    std::vector<std::uint8_t> message;
    std::vector<std::uint8_t> tail;
};

Answer Decode(const std::uint8_t* data, std::size_t size) {
    CFuzzInput input(data, size);
    Answer answer;
    answer.shape = static_cast<std::uint8_t>(input.Word(1));
    answer.result = input.Word(4);
    answer.length = input.Word(4);
    answer.viewFlags = input.Word(4);
    // Capacities up to 1 MiB reach the inline, view and buffer-too-small paths alike.
    answer.capacity = input.Word(3) & 0xFFFFF;
    answer.message = input.Bytes(input.Word(2));
    answer.tail = input.Rest();
    return answer;
}

// The product's thread: serves one answer at a time, and drops the connection when the answer cannot
// even be sent, as a product that goes away would, so that no client waits for ever.
class CHostileProduct {
public:
    CHostileProduct() : m_server(kKind, kLocalId, kRemoteId), m_thread([this] { Serve(); }) {}
    ~CHostileProduct() {
        m_stop = true;
        m_thread.join();
    }
    void Set(const Answer& answer) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_answer = answer;
    }

private:
    void Serve() {
        while (!m_stop) {
            CPortRequest request;
            if (m_server.Receive(request, 50) && request.WantsReply()) {
                Answer answer;
                {
                    std::lock_guard<std::mutex> guard(m_lock);
                    answer = m_answer;
                }
                if (!Reply(request, answer)) {
                    m_server.Port().Disconnect(request);
                }
            }
        }
    }

    bool Reply(const CPortRequest& request, const Answer& answer) {
        const std::vector<std::uint8_t> message =
            (answer.shape & kFramed) != 0
                ? CPixlinkPortServer::ReplyMessage(answer.result, answer.length, answer.message)
                : answer.message;
        if ((answer.shape & kWithView) == 0) {
            return m_server.Port().ReplyMessage(request, message);
        }
        if (kKind == Zun::Platform::kPortLpc) {
            m_server.Port().WriteRequestData(request, 1, answer.tail);
            return m_server.Port().ReplyMessage(request, message);
        }
        const std::uint32_t flags =
            (answer.shape & kOddViewFlags) != 0 ? answer.viewFlags : kAlpcReplyViewFlag;
        return m_server.Port().ReplyMessage(request, message, &answer.tail, flags);
    }

    CPixlinkPortServer m_server;
    std::mutex m_lock;
    Answer m_answer;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A private object root, so that runs in parallel never meet.
void UsePrivateObjectRoot() {
    char pattern[] = "/tmp/quil-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    setenv("QUIL_OBJECT_ROOT", pattern, 1);
}

struct Fixture {
    Fixture() {
        UsePrivateObjectRoot();
        product.reset(new CHostileProduct());
        client.Init(kLocalId, kRemoteId, 0);
    }
    std::unique_ptr<CHostileProduct> product;
    Client client;
};

void Exchange(Client& client, const Answer& answer) {
    const std::vector<std::uint8_t> request((answer.shape & kLargeRequest) != 0 ? 70000 : 16, 0x5A);
    if ((answer.shape & kToBuffer) != 0) {
        CPixlinkGrowableBuffer buffer;
        client.RequestToBuffer(0, 1, request.data(), request.size(), &buffer, 0);
        if (buffer.Length() > buffer.Capacity()) {
            std::abort();
        }
        return;
    }
    // One guard byte past the caller's capacity: the client must never write it.
    std::vector<std::uint8_t> reply(answer.capacity + 1, 0xC3);
    std::uint64_t length = 0;
    const std::uint32_t result =
        client.Request(0, 1, request.data(), request.size(), reply.data(), answer.capacity, &length, 0);
    if (reply[answer.capacity] != 0xC3 || (result == kResultSuccess && length > answer.capacity)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture* fixture = new Fixture();
    const Answer answer = Decode(data, size);
    fixture->product->Set(answer);
    Exchange(fixture->client, answer);
    return 0;
}
