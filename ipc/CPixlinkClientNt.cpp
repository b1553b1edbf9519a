#include "ipc/CPixlinkClientNt.h"

#include <cstring>
#include <mutex>

#include "ipc/CKernel32.h"
#include "ipc/CLpcRequestMessage.h"
#include "ipc/CLpcWorkerPool.h"
#include "ipc/CNtdll.h"
#include "ipc/CObjectName.h"
#include "ipc/CUser32.h"
#include "platform/DirectImports.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

using namespace Platform;

namespace {

constexpr std::size_t kMessagesPerPump = 100;

// The receive message offered for the reply: header only, announcing the largest LPC message.
struct LpcReplyBuffer {
    LpcReplyBuffer() {
        std::memset(bytes, 0, kPortHeaderSize);
        PORT_MESSAGE* header = Message();
        header->u1.s1.DataLength = static_cast<CSHORT>(kLpcReceiveDataLength);
        header->u1.s1.TotalLength = static_cast<CSHORT>(kLpcMessageSize);
    }
    PORT_MESSAGE* Message() { return reinterpret_cast<PORT_MESSAGE*>(bytes); }

    alignas(8) std::uint8_t bytes[kLpcMessageSize];
};

std::uint32_t DwordAt(const std::uint8_t* bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// Waits for the event while dispatching window messages, so the calling thread's windows stay
// responsive during a long request.
void PumpUntilSignaled(HANDLE event) {
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &event, 0, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            return;
        }
        if (wait != WAIT_OBJECT_0 + 1) {
            // The worker still uses the caller's buffers: without pumping, wait for it all the same.
            WaitForSingleObject(event, INFINITE);
            return;
        }
        MSG message;
        for (std::size_t i = 0; i < kMessagesPerPump && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0;
             ++i) {
            TranslateMessage(&message);
            CUser32::DispatchMessageW(&message);
        }
    }
}

}  // namespace

template <class Address>
CPixlinkClientNt<Address>::~CPixlinkClientNt() {
    Close();
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::Init(std::uint32_t localId, std::uint32_t remoteId,
                                              std::uint32_t flags) {
    Close();
    this->m_localId = localId;
    this->m_remoteId = remoteId;
    this->m_flags = flags;
    return kResultSuccess;
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::Close() {
    CLpcWorkerPool* pool = nullptr;
    {
        std::lock_guard<CCriticalSection> guard(Lock());
        ClosePort();
        pool = this->m_workerPool;
        this->m_workerPool = nullptr;
    }
    // Stopped outside the lock: a worker may be reconnecting, which takes it.
    delete pool;
    CloseBroadcast();
    return kResultSuccess;
}

template <class Address>
void CPixlinkClientNt<Address>::SetServerAccount(const CServerAccount& account) {
    std::lock_guard<CCriticalSection> guard(Lock());
    ClosePort();
    m_serverAccount = account;
}

template <class Address>
void CPixlinkClientNt<Address>::ClosePort() {
    std::lock_guard<CCriticalSection> guard(Lock());
    HANDLE port = this->m_port.exchange(nullptr);
    if (port != nullptr) {
        CKernel32::CloseHandle(port);
    }
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::Connect() {
    std::lock_guard<CCriticalSection> guard(Lock());
    if (this->m_port.load() != nullptr) {
        return kResultSuccess;
    }
    WCHAR name[CObjectName::kCapacity];
    CObjectName::Format(name, "\\BaseNamedObjects\\", this->m_localId, this->m_remoteId, "CommPort");
    UNICODE_STRING portName;
    CNtdll::RtlInitUnicodeString(&portName, name);
    // The product learns who asks, but cannot act as the agent.
    SECURITY_QUALITY_OF_SERVICE qos = {sizeof(SECURITY_QUALITY_OF_SERVICE), SecurityIdentification, 1, 0};
    std::uint32_t information[3] = {kMagicLow, kMagicHigh, kProtocolVersion};
    ULONG informationLength = kLpcConnectionInfoSize;
    HANDLE port = nullptr;
    NTSTATUS status = CNtdll::NtSecureConnectPort(&port, &portName, &qos, nullptr, m_serverAccount.Sid(),
                                                  nullptr, nullptr, information, &informationLength);
    m_connectStatus.store(status);
    this->m_port.store(port);
    if (NT_SUCCESS(status) && (this->m_flags & kInitFlagWorkerThread) != 0 && this->m_workerPool == nullptr) {
        CLpcWorkerPool* pool = new CLpcWorkerPool;
        if (pool->Start()) {
            this->m_workerPool = pool;
        } else {
            delete pool;
            status = STATUS_UNSUCCESSFUL;
        }
    }
    if (!NT_SUCCESS(status)) {
        ClosePort();
        return kResultOpenFailed;
    }
    return kResultSuccess;
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::Request(std::uint32_t requestFlags, std::uint32_t messageType,
                                                 const void* request, std::uint64_t requestLength,
                                                 void* reply, std::uint64_t replyCapacity,
                                                 std::uint64_t* replyLength, std::int64_t timeout) {
    if (this->m_port.load() == nullptr && Connect() != kResultSuccess) {
        return kResultFailure;
    }
    if (timeout != 0) {
        return kResultNotSupported;
    }
    const bool oneWay = (requestFlags & kRequestFlagOneWay) != 0;
    if (oneWay || reply == nullptr) {
        replyCapacity = 0;
    }
    if (oneWay) {
        replyLength = nullptr;
    }
    // Entry sizes are 32-bit: larger buffers cannot be lent to the server.
    if (requestLength > UINT32_MAX || replyCapacity > UINT32_MAX ||
        (request == nullptr && requestLength > 0)) {
        return kResultFailure;
    }
    CLpcRequestMessage message(messageType, requestFlags, request, requestLength, reply, replyCapacity);
    if (oneWay && !message.IsLarge()) {
        return SendOneWay(message);
    }
    LpcReplyBuffer received;
    if (!NT_SUCCESS(Exchange(message.Message(), received.Message()))) {
        return kResultFailure;
    }
    return ReadReply(received.bytes, reply, replyCapacity, replyLength);
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::ReadReply(const std::uint8_t* received, void* buffer,
                                                   std::uint64_t capacity, std::uint64_t* replyLength) const {
    const PORT_MESSAGE* header = reinterpret_cast<const PORT_MESSAGE*>(received);
    const std::size_t dataLength = static_cast<std::uint16_t>(header->u1.s1.DataLength);
    const std::uint32_t length = DwordAt(received, kLpcReplyLengthOffset);
    if (dataLength < 8 || length > capacity) {
        return kResultFailure;
    }
    if (length >= 1 && length <= kLpcReplyInlineMax) {
        // Inline bytes the message does not hold would be whatever the buffer held before.
        if (dataLength < 8 + static_cast<std::size_t>(length)) {
            return kResultFailure;
        }
        std::memcpy(buffer, received + kLpcReplyDataOffset, length);
    }
    if (replyLength != nullptr) {
        *replyLength = length;
    }
    return DwordAt(received, kLpcReplyResultOffset);
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::SendOneWay(CLpcRequestMessage& message) {
    NTSTATUS status = CNtdll::NtRequestPort(this->m_port.load(), message.Message());
    if (NT_SUCCESS(status)) {
        return kResultSuccess;
    }
    if (status == STATUS_INVALID_PARAMETER) {
        return kResultFailure;
    }
    ClosePort();
    if (Connect() != kResultSuccess) {
        return kResultFailure;
    }
    status = CNtdll::NtRequestPort(this->m_port.load(), message.Message());
    return NT_SUCCESS(status) ? kResultSuccess : kResultFailure;
}

template <class Address>
NTSTATUS CPixlinkClientNt<Address>::Exchange(PORT_MESSAGE* request, PORT_MESSAGE* reply) {
    return (this->m_flags & kInitFlagWorkerThread) != 0 ? ExchangeOnWorker(request, reply)
                                                        : ExchangeDirect(request, reply);
}

template <class Address>
NTSTATUS CPixlinkClientNt<Address>::ExchangeDirect(PORT_MESSAGE* request, PORT_MESSAGE* reply) {
    const NTSTATUS status = CNtdll::NtRequestWaitReplyPort(this->m_port.load(), request, reply);
    if (NT_SUCCESS(status) || status == STATUS_INVALID_PARAMETER) {
        return status;
    }
    ClosePort();
    if (Connect() != kResultSuccess) {
        return status;
    }
    return CNtdll::NtRequestWaitReplyPort(this->m_port.load(), request, reply);
}

template <class Address>
NTSTATUS CPixlinkClientNt<Address>::ExchangeOnWorker(PORT_MESSAGE* request, PORT_MESSAGE* reply) {
    HANDLE done = CKernel32::CreateEventW(nullptr, 0, 0, nullptr);
    CLpcWorkerPool* pool = this->m_workerPool;
    if (done == nullptr || pool == nullptr) {
        if (done != nullptr) {
            CKernel32::CloseHandle(done);
        }
        return STATUS_UNSUCCESSFUL;
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    const bool handedOver = pool->Submit([this, request, reply, done, &status] {
        status = ExchangeDirect(request, reply);
        SetEvent(done);
    });
    if (handedOver) {
        PumpUntilSignaled(done);
    }
    CKernel32::CloseHandle(done);
    return status;
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::RequestToBuffer(std::uint32_t, std::uint32_t, const void*,
                                                         std::uint64_t, CPixlinkGrowableBuffer*,
                                                         std::int64_t) {
    return kResultFailure;
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::ReadBroadcast(std::int64_t offset, void* destination,
                                                       std::uint64_t size) {
    return ReadBroadcastArea(this->m_localId, this->m_remoteId, offset, destination, size);
}

template <class Address>
std::uint32_t CPixlinkClientNt<Address>::ReadBroadcastDword(std::int64_t offset, std::uint32_t* value) {
    return ReadBroadcastAreaDword(this->m_localId, this->m_remoteId, offset, value);
}

template class CPixlinkClientNt<ULONG64>;

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
