#include "tests/standin/CPortStandIn.h"

#include <cstring>

#include "ipc/CKernel32.h"
#include "ipc/CNtdll.h"
#include "ipc/CServerAccount.h"
#include "platform/PixlinkProtocol.h"

namespace Zun {
namespace Testing {

using namespace Platform;
using Connectors::Common::Pixlink::CKernel32;
using Connectors::Common::Pixlink::CNtdll;

namespace {

CPortStandIn* g_current = nullptr;

// Where the stand-in's handles live: far from what the system hands out, and 4-aligned like them.
constexpr std::uintptr_t kFirstHandle = 0x5AFE0000;
constexpr std::size_t kLpcMaxMessage = 648;
constexpr std::size_t kAlpcMaxMessage = 0xFFFF;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryCountSize = 8;
constexpr std::size_t kQosSize = sizeof(SECURITY_QUALITY_OF_SERVICE);
constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);

std::size_t TotalLength(const PORT_MESSAGE* message) {
    return static_cast<std::uint16_t>(message->u1.s1.TotalLength);
}

// Lengths that agree, within the port's largest message.
bool IsSendable(const PORT_MESSAGE* message, std::size_t maxLength) {
    const std::size_t total = TotalLength(message);
    return total >= sizeof(PORT_MESSAGE) && total <= maxLength &&
           static_cast<std::uint16_t>(message->u1.s1.DataLength) + sizeof(PORT_MESSAGE) == total;
}

std::vector<std::uint8_t> Bytes(const void* data, std::size_t size) {
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string NameOf(const UNICODE_STRING* name) {
    if (name == nullptr || name->Buffer == nullptr) {
        return std::u16string();
    }
    return std::u16string(name->Buffer, name->Length / sizeof(WCHAR));
}

std::vector<std::uint8_t> SidOf(const void* sid) {
    if (sid == nullptr) {
        return {};
    }
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(sid);
    return Bytes(sid, 8 + 4 * static_cast<std::size_t>(bytes[1]));
}

bool ParseEntries(const PORT_MESSAGE* message, std::vector<CPortStandIn::Request::Entry>& entries) {
    const std::size_t offset = static_cast<std::uint16_t>(message->u2.s2.DataInfoOffset);
    if (offset == 0) {
        return true;
    }
    const std::size_t total = TotalLength(message);
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(message);
    if (offset < sizeof(PORT_MESSAGE) || offset + kEntryCountSize > total) {
        return false;
    }
    std::uint32_t count;
    std::memcpy(&count, bytes + offset, 4);
    if (count > (total - offset - kEntryCountSize) / kEntrySize) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = bytes + offset + kEntryCountSize + kEntrySize * i;
        std::uint64_t address;
        CPortStandIn::Request::Entry parsed;
        std::memcpy(&address, entry, 8);
        std::memcpy(&parsed.size, entry + 8, 4);
        parsed.address = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
        entries.push_back(parsed);
    }
    return true;
}

ALPC_DATA_VIEW_ATTR* ViewAttribute(ALPC_MESSAGE_ATTRIBUTES* attributes) {
    if (attributes == nullptr || (attributes->AllocatedAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) == 0) {
        return nullptr;
    }
    return reinterpret_cast<ALPC_DATA_VIEW_ATTR*>(attributes + 1);
}

}  // namespace

struct CPortStandIn::Port {
    Kind kind;
    Handler handler;
    std::vector<std::uint8_t> sid;
    std::size_t accepted = 0;
};

struct CPortStandIn::Connection {
    Kind kind;
    std::shared_ptr<Port> port;
    bool connected = true;
};

// Puts the stand-in's functions into the slots and the originals back.
class CPortStandIn::CBinding {
public:
    CBinding() {
        CNtdll::Table().Bind();
        CKernel32::Table().Bind();
        Swap();
    }
    ~CBinding() { Swap(); }
    // While bound, the slot's value from before: the system's CloseHandle for handles not ours.
    CloseHandleFn SystemCloseHandle() const { return m_closeHandle; }

private:
    void Swap() {
        std::swap(m_connect, CNtdll::NtConnectPort);
        std::swap(m_secureConnect, CNtdll::NtSecureConnectPort);
        std::swap(m_request, CNtdll::NtRequestPort);
        std::swap(m_requestWaitReply, CNtdll::NtRequestWaitReplyPort);
        std::swap(m_alpcConnect, CNtdll::NtAlpcConnectPort);
        std::swap(m_sendWaitReceive, CNtdll::NtAlpcSendWaitReceivePort);
        std::swap(m_disconnect, CNtdll::NtAlpcDisconnectPort);
        std::swap(m_createSection, CNtdll::NtAlpcCreatePortSection);
        std::swap(m_createView, CNtdll::NtAlpcCreateSectionView);
        std::swap(m_deleteView, CNtdll::NtAlpcDeleteSectionView);
        std::swap(m_deleteSection, CNtdll::NtAlpcDeletePortSection);
        std::swap(m_initializeAttribute, CNtdll::AlpcInitializeMessageAttribute);
        std::swap(m_getAttribute, CNtdll::AlpcGetMessageAttribute);
        std::swap(m_closeHandle, CKernel32::CloseHandle);
    }

    NtConnectPortFn m_connect = &CPortStandIn::NtConnectPort;
    NtSecureConnectPortFn m_secureConnect = &CPortStandIn::NtSecureConnectPort;
    NtRequestPortFn m_request = &CPortStandIn::NtRequestPort;
    NtRequestWaitReplyPortFn m_requestWaitReply = &CPortStandIn::NtRequestWaitReplyPort;
    NtAlpcConnectPortFn m_alpcConnect = &CPortStandIn::NtAlpcConnectPort;
    NtAlpcSendWaitReceivePortFn m_sendWaitReceive = &CPortStandIn::NtAlpcSendWaitReceivePort;
    NtAlpcDisconnectPortFn m_disconnect = &CPortStandIn::NtAlpcDisconnectPort;
    NtAlpcCreatePortSectionFn m_createSection = &CPortStandIn::NtAlpcCreatePortSection;
    NtAlpcCreateSectionViewFn m_createView = &CPortStandIn::NtAlpcCreateSectionView;
    NtAlpcDeleteSectionViewFn m_deleteView = &CPortStandIn::NtAlpcDeleteSectionView;
    NtAlpcDeletePortSectionFn m_deleteSection = &CPortStandIn::NtAlpcDeletePortSection;
    AlpcInitializeMessageAttributeFn m_initializeAttribute = &CPortStandIn::AlpcInitializeMessageAttribute;
    AlpcGetMessageAttributeFn m_getAttribute = &CPortStandIn::AlpcGetMessageAttribute;
    CloseHandleFn m_closeHandle = &CPortStandIn::CloseHandle;
};

CPortStandIn::CPortStandIn() : m_nextHandle(kFirstHandle) {
    g_current = this;
    m_binding.reset(new CBinding);
}

CPortStandIn::~CPortStandIn() {
    m_binding.reset();
    g_current = nullptr;
}

CPortStandIn& CPortStandIn::Current() {
    return *g_current;
}

void CPortStandIn::Serve(Kind kind, const std::string& name, Handler handler, const std::string& account) {
    Connectors::Common::Pixlink::CServerAccount parsed;
    parsed.Parse(account);
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto port = std::make_shared<Port>();
    port->kind = kind;
    port->handler = std::move(handler);
    port->sid = parsed.Bytes();
    m_ports[Wide(name)] = port;
}

void CPortStandIn::StopServing(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_ports.erase(Wide(name));
}

void CPortStandIn::FailSections(NTSTATUS status) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_sectionFailure = status;
}

std::vector<CPortStandIn::Connect> CPortStandIn::Connects() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_connects;
}

std::size_t CPortStandIn::Requests() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_requests;
}

std::size_t CPortStandIn::OpenHandles() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_connections.size() + m_sections.size();
}

std::size_t CPortStandIn::OpenViews() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_views.size();
}

std::vector<std::uint8_t> CPortStandIn::ReplyMessage(std::uint32_t result, std::uint32_t length,
                                                     const std::vector<std::uint8_t>& inlineBytes) {
    std::vector<std::uint8_t> message(sizeof(PORT_MESSAGE) + 8 + inlineBytes.size(), 0);
    std::memcpy(message.data() + sizeof(PORT_MESSAGE), &result, 4);
    std::memcpy(message.data() + sizeof(PORT_MESSAGE) + 4, &length, 4);
    if (!inlineBytes.empty()) {
        std::memcpy(message.data() + sizeof(PORT_MESSAGE) + 8, inlineBytes.data(), inlineBytes.size());
    }
    return message;
}

HANDLE CPortStandIn::NewHandle() {
    m_nextHandle += 4;
    return reinterpret_cast<HANDLE>(m_nextHandle);
}

void CPortStandIn::Record(const Connect& connect) {
    m_connects.push_back(connect);
}

// The kernel's checks of a connect, in its order: the name, the server's account, then the
// server's own verdict on the connection data.
NTSTATUS CPortStandIn::Accept(Kind kind, const UNICODE_STRING* name, const void* sid, const void* data,
                              std::size_t size, HANDLE* handle) {
    auto found = m_ports.find(NameOf(name));
    if (found == m_ports.end() || found->second->kind != kind) {
        return kNameNotFound;
    }
    Port& port = *found->second;
    if (sid != nullptr && SidOf(sid) != port.sid) {
        return STATUS_SERVER_SID_MISMATCH;
    }
    using namespace Connectors::Common::Pixlink;
    const std::uint32_t expected[3] = {kMagicLow, kMagicHigh, kProtocolVersion};
    if (size < sizeof(expected) || std::memcmp(data, expected, sizeof(expected)) != 0) {
        return STATUS_PORT_CONNECTION_REFUSED;
    }
    ++port.accepted;
    *handle = NewHandle();
    std::unique_ptr<Connection> connection(new Connection);
    connection->kind = kind;
    connection->port = found->second;
    m_connections[*handle] = std::move(connection);
    return STATUS_SUCCESS;
}

CPortStandIn::Connection* CPortStandIn::Find(HANDLE handle, Kind kind) {
    auto found = m_connections.find(handle);
    return found != m_connections.end() && found->second->kind == kind ? found->second.get() : nullptr;
}

void* CPortStandIn::NewView(std::size_t size) {
    std::unique_ptr<std::uint8_t[]> view(new std::uint8_t[size == 0 ? 1 : size]());
    void* base = view.get();
    m_views[base] = std::move(view);
    return base;
}

bool CPortStandIn::DeleteView(void* base) {
    return m_views.erase(base) == 1;
}

// Hands the request to the port's handler and delivers what it answers: the reply message with its
// lengths, and a view in the receive attributes (continuation required, so the client releases it).
NTSTATUS CPortStandIn::Exchange(Connection& connection, Request& request, PORT_MESSAGE* reply,
                                std::size_t capacity, ALPC_MESSAGE_ATTRIBUTES* attributes,
                                std::size_t* replyLength) {
    if (!connection.connected) {
        return STATUS_PORT_DISCONNECTED;
    }
    ++m_requests;
    request.connections = connection.port->accepted;
    Reply answer = connection.port->handler(request);
    if (answer.disconnect) {
        connection.connected = false;
        return STATUS_PORT_DISCONNECTED;
    }
    if (answer.status != STATUS_SUCCESS || reply == nullptr) {
        return answer.status;
    }
    if (answer.message.size() < sizeof(PORT_MESSAGE) || answer.message.size() > capacity) {
        return STATUS_PORT_MESSAGE_TOO_LONG;
    }
    PORT_MESSAGE* header = reinterpret_cast<PORT_MESSAGE*>(answer.message.data());
    if (!answer.keepLengths) {
        header->u1.s1.TotalLength = static_cast<CSHORT>(answer.message.size());
        header->u1.s1.DataLength = static_cast<CSHORT>(answer.message.size() - sizeof(PORT_MESSAGE));
    }
    header->u2.s2.Type = LPC_REPLY;
    ALPC_DATA_VIEW_ATTR* view = ViewAttribute(attributes);
    if (attributes != nullptr) {
        attributes->ValidAttributes = 0;
    }
    if (!answer.view.empty() && view != nullptr) {
        void* base = NewView(answer.view.size());
        std::memcpy(base, answer.view.data(), answer.view.size());
        *view = {answer.viewFlags, nullptr, base, answer.view.size()};
        attributes->ValidAttributes |= ALPC_MESSAGE_VIEW_ATTRIBUTE;
        header->u2.s2.Type |= LPC_CONTINUATION_REQUIRED;
    }
    std::memcpy(reply, answer.message.data(), answer.message.size());
    if (replyLength != nullptr) {
        *replyLength = answer.message.size();
    }
    return STATUS_SUCCESS;
}

NTSTATUS CPortStandIn::NtConnectPort(HANDLE* port, UNICODE_STRING* name, SECURITY_QUALITY_OF_SERVICE* qos,
                                     void* clientView, void* serverView, ULONG* maxMessageLength,
                                     void* connectionInformation, ULONG* connectionInformationLength) {
    return NtSecureConnectPort(port, name, qos, clientView, nullptr, serverView, maxMessageLength,
                               connectionInformation, connectionInformationLength);
}

NTSTATUS CPortStandIn::NtSecureConnectPort(HANDLE* port, UNICODE_STRING* name,
                                           SECURITY_QUALITY_OF_SERVICE* qos, void* clientView,
                                           void* requiredServerSid, void* serverView, ULONG*,
                                           void* connectionInformation, ULONG* connectionInformationLength) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connect connect = {kLpc, NameOf(name), requiredServerSid != nullptr, {}, 0, SidOf(requiredServerSid), 0};
    if (qos != nullptr) {
        connect.qos = *qos;
    }
    const std::size_t size = connectionInformationLength != nullptr ? *connectionInformationLength : 0;
    if (port == nullptr || qos == nullptr || qos->Length != kQosSize || clientView != nullptr ||
        serverView != nullptr || (size > 0 && connectionInformation == nullptr)) {
        connect.status = STATUS_INVALID_PARAMETER;
    } else {
        connect.status = self.Accept(kLpc, name, requiredServerSid, connectionInformation, size, port);
    }
    self.Record(connect);
    return connect.status;
}

NTSTATUS CPortStandIn::NtRequestPort(HANDLE handle, PORT_MESSAGE* message) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connection* connection = self.Find(handle, kLpc);
    if (connection == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    // A one-way message is gone when the call returns, so it cannot lend memory to the server.
    if (message == nullptr || !IsSendable(message, kLpcMaxMessage) || message->u2.s2.DataInfoOffset != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    Request request = {kLpc, Bytes(message, TotalLength(message)), false, false, {}, 0, {}, 0};
    return self.Exchange(*connection, request, nullptr, 0, nullptr, nullptr);
}

NTSTATUS CPortStandIn::NtRequestWaitReplyPort(HANDLE handle, PORT_MESSAGE* message, PORT_MESSAGE* reply) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connection* connection = self.Find(handle, kLpc);
    if (connection == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    Request request = {kLpc, {}, true, false, {}, 0, {}, 0};
    if (message == nullptr || reply == nullptr || !IsSendable(message, kLpcMaxMessage) ||
        !ParseEntries(message, request.entries)) {
        return STATUS_INVALID_PARAMETER;
    }
    request.message = Bytes(message, TotalLength(message));
    return self.Exchange(*connection, request, reply, kLpcMaxMessage, nullptr, nullptr);
}

NTSTATUS CPortStandIn::NtAlpcConnectPort(HANDLE* port, UNICODE_STRING* name, void* objectAttributes,
                                         ALPC_PORT_ATTRIBUTES* portAttributes, ULONG flags,
                                         void* requiredServerSid, PORT_MESSAGE* connectionMessage,
                                         ULONG* bufferLength, ALPC_MESSAGE_ATTRIBUTES* outAttributes,
                                         ALPC_MESSAGE_ATTRIBUTES* inAttributes, LARGE_INTEGER* timeout) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connect connect = {kAlpc, NameOf(name), true, {}, 0, SidOf(requiredServerSid), 0};
    if (portAttributes != nullptr) {
        connect.qos = portAttributes->SecurityQos;
        connect.portFlags = portAttributes->Flags;
    }
    if (port == nullptr || objectAttributes != nullptr || portAttributes == nullptr ||
        portAttributes->SecurityQos.Length != kQosSize ||
        portAttributes->MaxMessageLength != kAlpcMaxMessage || flags != ALPC_MSGFLG_SYNC_REQUEST ||
        connectionMessage == nullptr || !IsSendable(connectionMessage, kAlpcMaxMessage) ||
        bufferLength == nullptr || TotalLength(connectionMessage) > *bufferLength ||
        outAttributes != nullptr || inAttributes != nullptr || timeout != nullptr) {
        connect.status = STATUS_INVALID_PARAMETER;
    } else {
        connect.status = self.Accept(kAlpc, name, requiredServerSid, connectionMessage + 1,
                                     TotalLength(connectionMessage) - sizeof(PORT_MESSAGE), port);
    }
    self.Record(connect);
    return connect.status;
}

NTSTATUS CPortStandIn::NtAlpcSendWaitReceivePort(HANDLE handle, ULONG flags, PORT_MESSAGE* sendMessage,
                                                 ALPC_MESSAGE_ATTRIBUTES* sendAttributes,
                                                 PORT_MESSAGE* receiveMessage, SIZE_T* bufferLength,
                                                 ALPC_MESSAGE_ATTRIBUTES* receiveAttributes,
                                                 LARGE_INTEGER* timeout) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connection* connection = self.Find(handle, kAlpc);
    if (connection == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    ALPC_DATA_VIEW_ATTR* sentView = ViewAttribute(sendAttributes);
    const bool viewSent =
        sentView != nullptr && (sendAttributes->ValidAttributes & ALPC_MESSAGE_VIEW_ATTRIBUTE) != 0;
    // Releasing a received message unmaps the view it brought, when asked to.
    if (sendMessage != nullptr && receiveMessage == nullptr && flags == ALPC_MSGFLG_RELEASE_MESSAGE &&
        (sendMessage->u2.s2.Type & LPC_CONTINUATION_REQUIRED) != 0) {
        if (viewSent && (sentView->Flags & ALPC_VIEWFLG_UNMAP_EXISTING) != 0) {
            self.DeleteView(sentView->ViewBase);
            sendAttributes->ValidAttributes &= ~ALPC_MESSAGE_VIEW_ATTRIBUTE;
        }
        return STATUS_SUCCESS;
    }
    const ULONG expectedFlags =
        receiveMessage != nullptr ? ALPC_MSGFLG_SYNC_REQUEST : ALPC_MSGFLG_RELEASE_MESSAGE;
    if (sendMessage == nullptr || flags != expectedFlags || !IsSendable(sendMessage, kAlpcMaxMessage) ||
        (receiveMessage != nullptr && (bufferLength == nullptr || *bufferLength < sizeof(PORT_MESSAGE)))) {
        return STATUS_INVALID_PARAMETER;
    }
    Request request = {kAlpc,
                       Bytes(sendMessage, TotalLength(sendMessage)),
                       receiveMessage != nullptr,
                       timeout != nullptr,
                       {},
                       0,
                       {},
                       0};
    if (viewSent) {
        auto view = self.m_views.find(sentView->ViewBase);
        if (view == self.m_views.end()) {
            return STATUS_INVALID_PARAMETER;
        }
        request.view = Bytes(sentView->ViewBase, sentView->ViewSize);
        request.viewFlags = sentView->Flags;
    }
    std::size_t length = 0;
    const NTSTATUS status =
        self.Exchange(*connection, request, receiveMessage, receiveMessage != nullptr ? *bufferLength : 0,
                      receiveAttributes, &length);
    if (status == STATUS_SUCCESS && bufferLength != nullptr) {
        *bufferLength = length;
    }
    return status;
}

NTSTATUS CPortStandIn::NtAlpcDisconnectPort(HANDLE handle, ULONG) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    Connection* connection = self.Find(handle, kAlpc);
    if (connection == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    connection->connected = false;
    return STATUS_SUCCESS;
}

NTSTATUS CPortStandIn::NtAlpcCreatePortSection(HANDLE handle, ULONG, HANDLE sectionHandle, SIZE_T sectionSize,
                                               ALPC_HANDLE* alpcSection, SIZE_T* actualSectionSize) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    if (self.Find(handle, kAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (self.m_sectionFailure != STATUS_SUCCESS) {
        return self.m_sectionFailure;
    }
    if (sectionHandle != nullptr || sectionSize == 0 || alpcSection == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *alpcSection = self.NewHandle();
    self.m_sections[*alpcSection] = sectionSize;
    if (actualSectionSize != nullptr) {
        *actualSectionSize = sectionSize;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CPortStandIn::NtAlpcCreateSectionView(HANDLE handle, ULONG, ALPC_DATA_VIEW_ATTR* view) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    if (self.Find(handle, kAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    if (view == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto section = self.m_sections.find(view->SectionHandle);
    if (section == self.m_sections.end()) {
        return STATUS_INVALID_HANDLE;
    }
    if (view->ViewSize > section->second) {
        return STATUS_INVALID_VIEW_SIZE;
    }
    view->ViewSize = view->ViewSize == 0 ? section->second : view->ViewSize;
    view->ViewBase = self.NewView(view->ViewSize);
    return STATUS_SUCCESS;
}

NTSTATUS CPortStandIn::NtAlpcDeleteSectionView(HANDLE handle, ULONG, void* viewBase) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    if (self.Find(handle, kAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    return self.DeleteView(viewBase) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS CPortStandIn::NtAlpcDeletePortSection(HANDLE handle, ULONG, ALPC_HANDLE section) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    if (self.Find(handle, kAlpc) == nullptr) {
        return STATUS_INVALID_PORT_HANDLE;
    }
    return self.m_sections.erase(section) == 1 ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

// The attribute buffer as the system lays it out: the header, then the view attribute.
NTSTATUS CPortStandIn::AlpcInitializeMessageAttribute(ULONG attributeFlags, ALPC_MESSAGE_ATTRIBUTES* buffer,
                                                      SIZE_T bufferSize, SIZE_T* requiredBufferSize) {
    if ((attributeFlags & ~ALPC_MESSAGE_VIEW_ATTRIBUTE) != 0) {
        return STATUS_INVALID_PARAMETER;
    }
    const SIZE_T required =
        sizeof(ALPC_MESSAGE_ATTRIBUTES) + (attributeFlags != 0 ? sizeof(ALPC_DATA_VIEW_ATTR) : 0);
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

void* CPortStandIn::AlpcGetMessageAttribute(ALPC_MESSAGE_ATTRIBUTES* buffer, ULONG attributeFlag) {
    return attributeFlag == ALPC_MESSAGE_VIEW_ATTRIBUTE ? ViewAttribute(buffer) : nullptr;
}

BOOL CPortStandIn::CloseHandle(HANDLE handle) {
    CPortStandIn& self = Current();
    std::lock_guard<std::recursive_mutex> guard(self.m_lock);
    if (self.m_connections.erase(handle) == 1) {
        return 1;
    }
    return self.m_binding->SystemCloseHandle()(handle);
}

}  // namespace Testing
}  // namespace Zun
