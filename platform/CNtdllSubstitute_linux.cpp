#include "platform/CNtdllSubstitute.h"

#include <chrono>
#include <cstring>
#include <type_traits>

#include "platform/CAlpcSection.h"
#include "platform/CClientPort.h"
#include "platform/CHandleTable.h"
#include "platform/CObjectNamespace.h"
#include "platform/CSharedSection.h"
#include "platform/CViewRegistry.h"

namespace Zun {
namespace Platform {

namespace {

constexpr std::size_t kMaxConnectionInformation = 260;
constexpr std::size_t kViewAttributeSize = sizeof(ALPC_DATA_VIEW_ATTR);
constexpr std::int64_t kUnixEpochAsNtTime = 116444736000000000LL;

std::size_t TotalLength(const PORT_MESSAGE* message) {
    return static_cast<std::uint16_t>(message->u1.s1.TotalLength);
}

// What the kernel accepts of a security quality of service, and what the product needs of it: it
// tells who asks from its client's identity, so a client must allow at least identification and
// have the product see its identity as it is at each request (dynamic tracking).
constexpr std::int32_t kSecurityDelegation = 3;
constexpr BOOLEAN kDynamicTracking = 1;

bool IsAcceptableQos(const SECURITY_QUALITY_OF_SERVICE* qos) {
    return qos != nullptr && qos->Length == sizeof(SECURITY_QUALITY_OF_SERVICE) &&
           qos->ImpersonationLevel >= SecurityIdentification &&
           qos->ImpersonationLevel <= kSecurityDelegation && qos->ContextTrackingMode == kDynamicTracking &&
           qos->EffectiveOnly == 0;
}

// A security identifier as the kernel checks one: revision 1 and at most 15 sub-authorities. The
// substitute has no accounts of Windows: a port is served by the right account when its server
// runs as root or as this process's own user (CObjectNamespace::IsTrustedOwner), whichever account
// was named; other servers are refused with the kernel's status for a wrong server.
constexpr std::uint8_t kSidRevision = 1;
constexpr std::uint8_t kMaxSubAuthorities = 15;

bool IsValidSid(const void* sid) {
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(sid);
    return bytes != nullptr && bytes[0] == kSidRevision && bytes[1] <= kMaxSubAuthorities;
}

// ALPC port attributes as the kernel checks them, with the product's needs: impersonation allowed,
// room for its largest message, and no limit below what a request may take.
constexpr ULONG kAlpcAllowImpersonation = 0x10000;
constexpr ULONG kAlpcKnownPortFlags = 0x03FF0000;
constexpr SIZE_T kNoLimit = ~static_cast<SIZE_T>(0);

bool IsAcceptablePortAttributes(const ALPC_PORT_ATTRIBUTES* attributes) {
    return attributes != nullptr && (attributes->Flags & ~kAlpcKnownPortFlags) == 0 &&
           (attributes->Flags & kAlpcAllowImpersonation) != 0 && IsAcceptableQos(&attributes->SecurityQos) &&
           attributes->MaxMessageLength == kAlpcMaxMessage && attributes->MaxPoolUsage == kNoLimit &&
           attributes->MaxSectionSize == kNoLimit && attributes->MaxViewSize == kNoLimit &&
           attributes->MaxTotalSectionSize == kNoLimit && attributes->DupObjectTypes == 0;
}

// A message the kernel would accept: its lengths agree and it fits the port's largest message.
bool IsSendable(const PORT_MESSAGE* message, std::size_t maxLength) {
    const std::size_t total = TotalLength(message);
    const std::size_t data = static_cast<std::uint16_t>(message->u1.s1.DataLength);
    return total >= sizeof(PORT_MESSAGE) && total <= maxLength && data + sizeof(PORT_MESSAGE) == total;
}

bool ParseDataEntries(const PORT_MESSAGE* message, std::vector<LpcDataEntry>& entries) {
    const std::size_t offset = static_cast<std::uint16_t>(message->u2.s2.DataInfoOffset);
    if (offset == 0) {
        return true;
    }
    const std::size_t total = TotalLength(message);
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(message);
    if (offset < sizeof(PORT_MESSAGE) || offset + 8 > total) {
        return false;
    }
    std::uint32_t count;
    std::memcpy(&count, bytes + offset, 4);
    if (count > (total - offset - 8) / 16) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        LpcDataEntry entry;
        std::uint64_t address;
        std::memcpy(&address, bytes + offset + 8 + 16 * i, 8);
        std::memcpy(&entry.size, bytes + offset + 16 + 16 * i, 4);
        entry.address = reinterpret_cast<std::uint8_t*>(address);
        if (entry.address == nullptr && entry.size != 0) {
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

// NT time-outs: negative is relative, in 100 ns units; positive is an absolute system time.
CDeadline DeadlineOf(const LARGE_INTEGER* timeout) {
    if (timeout == nullptr) {
        return CDeadline::Unlimited();
    }
    std::int64_t relative = -timeout->QuadPart;
    if (timeout->QuadPart > 0) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const std::int64_t nowNt =
            std::chrono::duration_cast<std::chrono::microseconds>(now).count() * 10 + kUnixEpochAsNtTime;
        relative = timeout->QuadPart - nowNt;
    }
    const std::int64_t ms = relative <= 0 ? 0 : (relative + 9999) / 10000;
    return CDeadline::In(std::chrono::milliseconds(ms));
}

std::shared_ptr<CClientPort> FindPort(HANDLE handle, std::uint32_t kind) {
    std::shared_ptr<CClientPort> port = CHandleTable::FindAs<CClientPort>(handle);
    return port != nullptr && port->Kind() == kind ? port : nullptr;
}

NTSTATUS Connect(HANDLE* handle, const std::string& path, std::uint32_t kind, const void* data,
                 std::size_t size) {
    if (path.empty()) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    std::shared_ptr<CClientPort> port;
    const NTSTATUS status = CClientPort::Connect(path, kind, data, size, port);
    if (NT_SUCCESS(status)) {
        *handle = CHandleTable::Insert(port);
    }
    return status;
}

ALPC_DATA_VIEW_ATTR* ViewAttribute(ALPC_MESSAGE_ATTRIBUTES* attributes) {
    return CNtdllSubstitute::AlpcGetMessageAttribute(attributes, ALPC_MESSAGE_VIEW_ATTRIBUTE) == nullptr
               ? nullptr
               : reinterpret_cast<ALPC_DATA_VIEW_ATTR*>(attributes + 1);
}

NTSTATUS ReleaseMessage(ALPC_MESSAGE_ATTRIBUTES* attributes) {
    ALPC_DATA_VIEW_ATTR* view = ViewAttribute(attributes);
    if (view != nullptr && (attributes->ValidAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) != 0) {
        if ((view->Flags & ALPC_VIEWFLG_UNMAP_EXISTING) != 0 &&
            CAlpcSection::SectionOfView(view->ViewBase) == nullptr) {
            CViewRegistry::Remove(view->ViewBase);
        }
        attributes->ValidAttributes &= ~ALPC_MESSAGE_VIEW_ATTRIBUTE;
    }
    return STATUS_SUCCESS;
}

NTSTATUS AttachSentView(ALPC_MESSAGE_ATTRIBUTES* attributes, PortExchange& exchange,
                        std::shared_ptr<CAlpcSection>& section) {
    ALPC_DATA_VIEW_ATTR* view = ViewAttribute(attributes);
    if (view == nullptr || (attributes->ValidAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) == 0) {
        return STATUS_SUCCESS;
    }
    section = CAlpcSection::SectionOfView(view->ViewBase);
    void* base = nullptr;
    std::size_t size = 0;
    if (section == nullptr || !CViewRegistry::Query(view->ViewBase, base, size) || base != view->ViewBase ||
        view->ViewSize == 0 || view->ViewSize > size) {
        return STATUS_INVALID_PARAMETER;
    }
    exchange.viewFd = section->Fd();
    exchange.viewFlags = view->Flags;
    exchange.viewSize = view->ViewSize;
    return STATUS_SUCCESS;
}

void DeliverReceivedView(PortExchange& exchange, PORT_MESSAGE* message, ALPC_MESSAGE_ATTRIBUTES* attributes) {
    ALPC_DATA_VIEW_ATTR* view = attributes != nullptr ? ViewAttribute(attributes) : nullptr;
    if (attributes != nullptr) {
        attributes->ValidAttributes = 0;
    }
    if (exchange.replyView == nullptr) {
        return;
    }
    if (view == nullptr) {
        // Nobody asked for the view, so nobody could release it.
        CViewRegistry::Remove(exchange.replyView);
        message->u2.s2.Type &= ~LPC_CONTINUATION_REQUIRED;
        return;
    }
    view->Flags = exchange.replyViewFlags;
    view->SectionHandle = nullptr;
    view->ViewBase = exchange.replyView;
    view->ViewSize = exchange.replyViewSize;
    attributes->ValidAttributes |= ALPC_MESSAGE_VIEW_ATTRIBUTE;
}

}  // namespace

void CNtdllSubstitute::RtlInitUnicodeString(UNICODE_STRING* destination, const WCHAR* source) {
    std::size_t length = 0;
    while (source != nullptr && source[length] != 0 && length < 0x7FFE) {
        ++length;
    }
    destination->Length = static_cast<USHORT>(length * 2);
    destination->MaximumLength = static_cast<USHORT>(source != nullptr ? length * 2 + 2 : 0);
    destination->Buffer = const_cast<WCHAR*>(source);
}

NTSTATUS CNtdllSubstitute::NtConnectPort(HANDLE* port, UNICODE_STRING* name, SECURITY_QUALITY_OF_SERVICE* qos,
                                         void* clientView, void* serverView, ULONG* maxMessageLength,
                                         void* connectionInformation, ULONG* connectionInformationLength) {
    const std::size_t length = connectionInformationLength != nullptr ? *connectionInformationLength : 0;
    if (port == nullptr || !IsAcceptableQos(qos) || clientView != nullptr || serverView != nullptr ||
        length > kMaxConnectionInformation || (length > 0 && connectionInformation == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }
    const NTSTATUS status =
        Connect(port, CObjectNamespace::PathOf(name), kPortLpc, connectionInformation, length);
    if (NT_SUCCESS(status) && maxMessageLength != nullptr) {
        *maxMessageLength = kLpcMaxMessage;
    }
    return status;
}

NTSTATUS CNtdllSubstitute::NtSecureConnectPort(HANDLE* port, UNICODE_STRING* name,
                                               SECURITY_QUALITY_OF_SERVICE* qos, void* clientView,
                                               void* requiredServerSid, void* serverView,
                                               ULONG* maxMessageLength, void* connectionInformation,
                                               ULONG* connectionInformationLength) {
    if (requiredServerSid != nullptr && !IsValidSid(requiredServerSid)) {
        return STATUS_INVALID_PARAMETER;
    }
    return NtConnectPort(port, name, qos, clientView, serverView, maxMessageLength, connectionInformation,
                         connectionInformationLength);
}

NTSTATUS CNtdllSubstitute::NtRequestPort(HANDLE handle, PORT_MESSAGE* request) {
    std::shared_ptr<CClientPort> port = FindPort(handle, kPortLpc);
    if (port == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    // A one-way message is gone when the call returns, so it cannot lend memory to the server.
    if (request == nullptr || !IsSendable(request, kLpcMaxMessage) || request->u2.s2.DataInfoOffset != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    PortExchange exchange;
    exchange.message = request;
    return port->Exchange(exchange);
}

NTSTATUS CNtdllSubstitute::NtRequestWaitReplyPort(HANDLE handle, PORT_MESSAGE* request, PORT_MESSAGE* reply) {
    std::shared_ptr<CClientPort> port = FindPort(handle, kPortLpc);
    if (port == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    PortExchange exchange;
    if (request == nullptr || reply == nullptr || !IsSendable(request, kLpcMaxMessage) ||
        !ParseDataEntries(request, exchange.entries)) {
        return STATUS_INVALID_PARAMETER;
    }
    exchange.message = request;
    exchange.reply = reply;
    exchange.replyCapacity = kLpcMaxMessage;
    return port->Exchange(exchange);
}

NTSTATUS CNtdllSubstitute::NtAlpcConnectPort(HANDLE* port, UNICODE_STRING* name, void* objectAttributes,
                                             ALPC_PORT_ATTRIBUTES* portAttributes, ULONG flags,
                                             void* requiredServerSid, PORT_MESSAGE* connectionMessage,
                                             ULONG* bufferLength, ALPC_MESSAGE_ATTRIBUTES* outAttributes,
                                             ALPC_MESSAGE_ATTRIBUTES* inAttributes, LARGE_INTEGER* timeout) {
    // Only synchronous connections, without the options the product's clients never use.
    if (port == nullptr || objectAttributes != nullptr || !IsAcceptablePortAttributes(portAttributes) ||
        flags != ALPC_MSGFLG_SYNC_REQUEST ||
        (requiredServerSid != nullptr && !IsValidSid(requiredServerSid)) || outAttributes != nullptr ||
        inAttributes != nullptr || timeout != nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::size_t length = 0;
    if (connectionMessage != nullptr) {
        length = TotalLength(connectionMessage);
        if (!IsSendable(connectionMessage, kAlpcMaxMessage) ||
            (bufferLength != nullptr && length > *bufferLength)) {
            return STATUS_INVALID_PARAMETER;
        }
    }
    return Connect(port, CObjectNamespace::PathOf(name), kPortAlpc, connectionMessage, length);
}

NTSTATUS CNtdllSubstitute::NtAlpcSendWaitReceivePort(HANDLE handle, ULONG flags, PORT_MESSAGE* sendMessage,
                                                     ALPC_MESSAGE_ATTRIBUTES* sendAttributes,
                                                     PORT_MESSAGE* receiveMessage, SIZE_T* bufferLength,
                                                     ALPC_MESSAGE_ATTRIBUTES* receiveAttributes,
                                                     LARGE_INTEGER* timeout) {
    std::shared_ptr<CClientPort> port = FindPort(handle, kPortAlpc);
    if (port == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (sendMessage != nullptr && receiveMessage == nullptr && (flags & ALPC_MSGFLG_RELEASE_MESSAGE) != 0 &&
        (sendMessage->u2.s2.Type & LPC_CONTINUATION_REQUIRED) != 0) {
        return ReleaseMessage(sendAttributes);
    }
    // A request that waits for its reply is synchronous; a message sent without one is released.
    const ULONG expectedFlags =
        receiveMessage != nullptr ? ALPC_MSGFLG_SYNC_REQUEST : ALPC_MSGFLG_RELEASE_MESSAGE;
    if (sendMessage == nullptr || flags != expectedFlags || !IsSendable(sendMessage, kAlpcMaxMessage) ||
        (receiveMessage != nullptr && (bufferLength == nullptr || *bufferLength < sizeof(PORT_MESSAGE)))) {
        return STATUS_INVALID_PARAMETER;
    }
    PortExchange exchange;
    exchange.message = sendMessage;
    std::shared_ptr<CAlpcSection> section;  // kept alive until the view has been sent
    const NTSTATUS attached =
        sendAttributes != nullptr ? AttachSentView(sendAttributes, exchange, section) : 0;
    if (!NT_SUCCESS(attached)) {
        return attached;
    }
    exchange.reply = receiveMessage;
    exchange.replyCapacity = receiveMessage != nullptr ? std::min<SIZE_T>(*bufferLength, kAlpcMaxMessage) : 0;
    exchange.deadline = DeadlineOf(timeout);
    const NTSTATUS status = port->Exchange(exchange);
    if (status != STATUS_SUCCESS || receiveMessage == nullptr) {
        return status;
    }
    *bufferLength = exchange.replyLength;
    DeliverReceivedView(exchange, receiveMessage, receiveAttributes);
    return STATUS_SUCCESS;
}

NTSTATUS CNtdllSubstitute::NtAlpcDisconnectPort(HANDLE handle, ULONG) {
    std::shared_ptr<CClientPort> port = FindPort(handle, kPortAlpc);
    if (port == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    port->Disconnect();
    return STATUS_SUCCESS;
}

NTSTATUS CNtdllSubstitute::NtAlpcCreatePortSection(HANDLE handle, ULONG, HANDLE sectionHandle,
                                                   SIZE_T sectionSize, ALPC_HANDLE* alpcSection,
                                                   SIZE_T* actualSectionSize) {
    if (FindPort(handle, kPortAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (sectionHandle != nullptr || sectionSize == 0 || alpcSection == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const int fd = CSharedSection::Create(sectionSize);
    if (fd < 0) {
        return STATUS_NO_MEMORY;
    }
    *alpcSection = CHandleTable::Insert(std::make_shared<CAlpcSection>(fd, sectionSize));
    if (actualSectionSize != nullptr) {
        *actualSectionSize = sectionSize;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CNtdllSubstitute::NtAlpcCreateSectionView(HANDLE handle, ULONG, ALPC_DATA_VIEW_ATTR* view) {
    if (FindPort(handle, kPortAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (view == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::shared_ptr<CAlpcSection> section = CHandleTable::FindAs<CAlpcSection>(view->SectionHandle);
    if (section == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    void* base = section->CreateView(view->ViewSize);
    if (base == nullptr) {
        return STATUS_INVALID_VIEW_SIZE;
    }
    view->ViewBase = base;
    view->ViewSize = view->ViewSize == 0 ? section->Size() : view->ViewSize;
    return STATUS_SUCCESS;
}

NTSTATUS CNtdllSubstitute::NtAlpcDeleteSectionView(HANDLE handle, ULONG, void* viewBase) {
    if (FindPort(handle, kPortAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    return CAlpcSection::DeleteView(viewBase) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS CNtdllSubstitute::NtAlpcDeletePortSection(HANDLE handle, ULONG, ALPC_HANDLE section) {
    if (FindPort(handle, kPortAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (CHandleTable::FindAs<CAlpcSection>(section) == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    CHandleTable::Close(section);
    return STATUS_SUCCESS;
}

NTSTATUS CNtdllSubstitute::AlpcInitializeMessageAttribute(ULONG attributeFlags,
                                                          ALPC_MESSAGE_ATTRIBUTES* buffer, SIZE_T bufferSize,
                                                          SIZE_T* requiredBufferSize) {
    // The substitute carries views only; other attributes are not offered.
    if ((attributeFlags & ~ALPC_MESSAGE_VIEW_ATTRIBUTE) != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    const SIZE_T required = sizeof(ALPC_MESSAGE_ATTRIBUTES) + (attributeFlags != 0 ? kViewAttributeSize : 0);
    if (requiredBufferSize != nullptr) {
        *requiredBufferSize = required;
    }
    if (buffer == nullptr || bufferSize < required) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    buffer->AllocatedAttributes = attributeFlags;
    buffer->ValidAttributes = 0;
    return STATUS_SUCCESS;
}

void* CNtdllSubstitute::AlpcGetMessageAttribute(ALPC_MESSAGE_ATTRIBUTES* buffer, ULONG attributeFlag) {
    if (buffer == nullptr || attributeFlag != ALPC_MESSAGE_VIEW_ATTRIBUTE ||
        (buffer->AllocatedAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) == 0) {
        return nullptr;
    }
    return buffer + 1;
}

const SubstituteExport* CNtdllSubstitute::Exports(std::size_t& count) {
    static const SubstituteExport exports[] = {
        {"RtlInitUnicodeString", ExportOf<RtlInitUnicodeStringFn>(&RtlInitUnicodeString)},
        {"NtConnectPort", ExportOf<NtConnectPortFn>(&NtConnectPort)},
        {"NtSecureConnectPort", ExportOf<NtSecureConnectPortFn>(&NtSecureConnectPort)},
        {"NtRequestPort", ExportOf<NtRequestPortFn>(&NtRequestPort)},
        {"NtRequestWaitReplyPort", ExportOf<NtRequestWaitReplyPortFn>(&NtRequestWaitReplyPort)},
        {"NtAlpcConnectPort", ExportOf<NtAlpcConnectPortFn>(&NtAlpcConnectPort)},
        {"NtAlpcSendWaitReceivePort", ExportOf<NtAlpcSendWaitReceivePortFn>(&NtAlpcSendWaitReceivePort)},
        {"NtAlpcDisconnectPort", ExportOf<NtAlpcDisconnectPortFn>(&NtAlpcDisconnectPort)},
        {"NtAlpcCreatePortSection", ExportOf<NtAlpcCreatePortSectionFn>(&NtAlpcCreatePortSection)},
        {"NtAlpcCreateSectionView", ExportOf<NtAlpcCreateSectionViewFn>(&NtAlpcCreateSectionView)},
        {"NtAlpcDeleteSectionView", ExportOf<NtAlpcDeleteSectionViewFn>(&NtAlpcDeleteSectionView)},
        {"NtAlpcDeletePortSection", ExportOf<NtAlpcDeletePortSectionFn>(&NtAlpcDeletePortSection)},
        {"AlpcInitializeMessageAttribute",
         ExportOf<AlpcInitializeMessageAttributeFn>(&AlpcInitializeMessageAttribute)},
        {"AlpcGetMessageAttribute", ExportOf<AlpcGetMessageAttributeFn>(&AlpcGetMessageAttribute)},
    };
    count = sizeof(exports) / sizeof(exports[0]);
    return exports;
}

}  // namespace Platform
}  // namespace Zun
