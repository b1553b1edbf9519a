#pragma once

#include <cstddef>

#include "platform/NtFunctions.h"
#include "platform/SubstituteExport.h"

namespace Zun {
namespace Platform {

// The ntdll functions the module binds, done by the substitute: ports and their sections and
// message attributes.
class CNtdllSubstitute {
public:
    static const SubstituteExport* Exports(std::size_t& count);

    static void RtlInitUnicodeString(UNICODE_STRING* destination, const WCHAR* source);
    static NTSTATUS NtConnectPort(HANDLE* port, UNICODE_STRING* name, SECURITY_QUALITY_OF_SERVICE* qos,
                                  void* clientView, void* serverView, ULONG* maxMessageLength,
                                  void* connectionInformation, ULONG* connectionInformationLength);
    static NTSTATUS NtSecureConnectPort(HANDLE* port, UNICODE_STRING* name, SECURITY_QUALITY_OF_SERVICE* qos,
                                        void* clientView, void* requiredServerSid, void* serverView,
                                        ULONG* maxMessageLength, void* connectionInformation,
                                        ULONG* connectionInformationLength);
    static NTSTATUS NtRequestPort(HANDLE port, PORT_MESSAGE* request);
    static NTSTATUS NtRequestWaitReplyPort(HANDLE port, PORT_MESSAGE* request, PORT_MESSAGE* reply);
    static NTSTATUS NtAlpcConnectPort(HANDLE* port, UNICODE_STRING* name, void* objectAttributes,
                                      ALPC_PORT_ATTRIBUTES* portAttributes, ULONG flags,
                                      void* requiredServerSid, PORT_MESSAGE* connectionMessage,
                                      ULONG* bufferLength, ALPC_MESSAGE_ATTRIBUTES* outAttributes,
                                      ALPC_MESSAGE_ATTRIBUTES* inAttributes, LARGE_INTEGER* timeout);
    static NTSTATUS NtAlpcSendWaitReceivePort(HANDLE port, ULONG flags, PORT_MESSAGE* sendMessage,
                                              ALPC_MESSAGE_ATTRIBUTES* sendAttributes,
                                              PORT_MESSAGE* receiveMessage, SIZE_T* bufferLength,
                                              ALPC_MESSAGE_ATTRIBUTES* receiveAttributes,
                                              LARGE_INTEGER* timeout);
    static NTSTATUS NtAlpcDisconnectPort(HANDLE port, ULONG flags);
    static NTSTATUS NtAlpcCreatePortSection(HANDLE port, ULONG flags, HANDLE sectionHandle,
                                            SIZE_T sectionSize, ALPC_HANDLE* alpcSection,
                                            SIZE_T* actualSectionSize);
    static NTSTATUS NtAlpcCreateSectionView(HANDLE port, ULONG flags, ALPC_DATA_VIEW_ATTR* view);
    static NTSTATUS NtAlpcDeleteSectionView(HANDLE port, ULONG flags, void* viewBase);
    static NTSTATUS NtAlpcDeletePortSection(HANDLE port, ULONG flags, ALPC_HANDLE section);
    static NTSTATUS AlpcInitializeMessageAttribute(ULONG attributeFlags, ALPC_MESSAGE_ATTRIBUTES* buffer,
                                                   SIZE_T bufferSize, SIZE_T* requiredBufferSize);
    static void* AlpcGetMessageAttribute(ALPC_MESSAGE_ATTRIBUTES* buffer, ULONG attributeFlag);
};

}  // namespace Platform
}  // namespace Zun
