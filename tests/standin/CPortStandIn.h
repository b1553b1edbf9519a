#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/NtFunctions.h"

namespace Zun {
namespace Testing {

// The kernel's side of the product's LPC and ALPC ports, inside the test process. While it lives,
// the port functions of the module's ntdll table (and CloseHandle of its kernel32 table) are its
// own, so the clients run unchanged, in their Windows build too, where the system offers no ports
// (Wine). Ports are served by handlers of the test; what each client passed on connect is kept for
// the test to check. One stand-in at a time.
class CPortStandIn {
public:
    enum Kind { kLpc, kAlpc };

    // One message as the server receives it.
    struct Request {
        Kind kind;
        std::vector<std::uint8_t> message;  // header included
        bool wantsReply;
        bool hasTimeout;
        std::vector<std::uint8_t> view;  // ALPC: the section view sent along
        std::uint32_t viewFlags;
        // LPC: the data entries of a large message, in the client's memory.
        struct Entry {
            std::uint8_t* address;
            std::uint32_t size;
        };
        std::vector<Entry> entries;
        std::size_t connections;  // connections this port accepted so far
    };

    // What the server does with it: a reply message (header included; the stand-in fills in its
    // lengths), a view sent with it, or a status for the client's call instead.
    struct Reply {
        std::vector<std::uint8_t> message;
        std::vector<std::uint8_t> view;
        std::uint32_t viewFlags = 0;
        Platform::NTSTATUS status = 0;
        bool disconnect = false;   // the server drops the connection instead of replying
        bool keepLengths = false;  // the header goes out as the handler wrote it
    };
    typedef std::function<Reply(const Request&)> Handler;

    // What a client passed to connect.
    struct Connect {
        Kind kind;
        std::u16string name;
        bool secure;  // through a call that can name the server's account
        Platform::SECURITY_QUALITY_OF_SERVICE qos;
        Platform::ULONG portFlags;
        std::vector<std::uint8_t> requiredSid;  // empty when none was required
        Platform::NTSTATUS status;
    };

    CPortStandIn();
    ~CPortStandIn();
    CPortStandIn(const CPortStandIn&) = delete;
    CPortStandIn& operator=(const CPortStandIn&) = delete;

    // Serves the port of that name (ASCII) as the account given in text form (S-1-...).
    void Serve(Kind kind, const std::string& name, Handler handler, const std::string& account = "S-1-5-18");
    void StopServing(const std::string& name);
    // The next port section fails to be created with this status (0: none does).
    void FailSections(Platform::NTSTATUS status);

    std::vector<Connect> Connects() const;
    std::size_t Requests() const;
    // Handles, sections and views that clients still hold.
    std::size_t OpenHandles() const;
    std::size_t OpenViews() const;

    // A reply message of the product's form: header, result word, length, inline bytes.
    static std::vector<std::uint8_t> ReplyMessage(std::uint32_t result, std::uint32_t length,
                                                  const std::vector<std::uint8_t>& inlineBytes);

private:
    struct Port;
    struct Connection;
    class CBinding;

    static CPortStandIn& Current();
    Platform::HANDLE NewHandle();
    Platform::NTSTATUS Accept(Kind kind, const Platform::UNICODE_STRING* name, const void* sid,
                              const void* data, std::size_t size, Platform::HANDLE* handle);
    Connection* Find(Platform::HANDLE handle, Kind kind);
    Platform::NTSTATUS Exchange(Connection& connection, Request& request, Platform::PORT_MESSAGE* reply,
                                std::size_t capacity, Platform::ALPC_MESSAGE_ATTRIBUTES* attributes,
                                std::size_t* replyLength);
    void* NewView(std::size_t size);
    bool DeleteView(void* base);
    void Record(const Connect& connect);

    // The functions bound in the tables.
    static Platform::NTSTATUS NtConnectPort(Platform::HANDLE*, Platform::UNICODE_STRING*,
                                            Platform::SECURITY_QUALITY_OF_SERVICE*, void*, void*,
                                            Platform::ULONG*, void*, Platform::ULONG*);
    static Platform::NTSTATUS NtSecureConnectPort(Platform::HANDLE*, Platform::UNICODE_STRING*,
                                                  Platform::SECURITY_QUALITY_OF_SERVICE*, void*, void*, void*,
                                                  Platform::ULONG*, void*, Platform::ULONG*);
    static Platform::NTSTATUS NtRequestPort(Platform::HANDLE, Platform::PORT_MESSAGE*);
    static Platform::NTSTATUS NtRequestWaitReplyPort(Platform::HANDLE, Platform::PORT_MESSAGE*,
                                                     Platform::PORT_MESSAGE*);
    static Platform::NTSTATUS NtAlpcConnectPort(Platform::HANDLE*, Platform::UNICODE_STRING*, void*,
                                                Platform::ALPC_PORT_ATTRIBUTES*, Platform::ULONG, void*,
                                                Platform::PORT_MESSAGE*, Platform::ULONG*,
                                                Platform::ALPC_MESSAGE_ATTRIBUTES*,
                                                Platform::ALPC_MESSAGE_ATTRIBUTES*, Platform::LARGE_INTEGER*);
    static Platform::NTSTATUS NtAlpcSendWaitReceivePort(Platform::HANDLE, Platform::ULONG,
                                                        Platform::PORT_MESSAGE*,
                                                        Platform::ALPC_MESSAGE_ATTRIBUTES*,
                                                        Platform::PORT_MESSAGE*, Platform::SIZE_T*,
                                                        Platform::ALPC_MESSAGE_ATTRIBUTES*,
                                                        Platform::LARGE_INTEGER*);
    static Platform::NTSTATUS NtAlpcDisconnectPort(Platform::HANDLE, Platform::ULONG);
    static Platform::NTSTATUS NtAlpcCreatePortSection(Platform::HANDLE, Platform::ULONG, Platform::HANDLE,
                                                      Platform::SIZE_T, Platform::ALPC_HANDLE*,
                                                      Platform::SIZE_T*);
    static Platform::NTSTATUS NtAlpcCreateSectionView(Platform::HANDLE, Platform::ULONG,
                                                      Platform::ALPC_DATA_VIEW_ATTR*);
    static Platform::NTSTATUS NtAlpcDeleteSectionView(Platform::HANDLE, Platform::ULONG, void*);
    static Platform::NTSTATUS NtAlpcDeletePortSection(Platform::HANDLE, Platform::ULONG,
                                                      Platform::ALPC_HANDLE);
    static Platform::NTSTATUS AlpcInitializeMessageAttribute(Platform::ULONG,
                                                             Platform::ALPC_MESSAGE_ATTRIBUTES*,
                                                             Platform::SIZE_T, Platform::SIZE_T*);
    static void* AlpcGetMessageAttribute(Platform::ALPC_MESSAGE_ATTRIBUTES*, Platform::ULONG);
    static Platform::BOOL CloseHandle(Platform::HANDLE);

    mutable std::recursive_mutex m_lock;
    std::unique_ptr<CBinding> m_binding;
    std::map<std::u16string, std::shared_ptr<Port>> m_ports;
    std::map<Platform::HANDLE, std::unique_ptr<Connection>> m_connections;
    std::map<Platform::HANDLE, std::size_t> m_sections;
    std::map<void*, std::unique_ptr<std::uint8_t[]>> m_views;
    std::vector<Connect> m_connects;
    std::size_t m_requests = 0;
    std::uintptr_t m_nextHandle;
    Platform::NTSTATUS m_sectionFailure = 0;
};

}  // namespace Testing
}  // namespace Zun
