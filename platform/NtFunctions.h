#pragma once

// Signatures of the system functions that are bound at run time, shared by the lazy binding tables
// and the Linux substitute that provides them.

#include "platform/NtTypes.h"

namespace Zun {
namespace Platform {

// ntdll
typedef void (*RtlInitUnicodeStringFn)(UNICODE_STRING* destination, const WCHAR* source);
typedef NTSTATUS (*NtConnectPortFn)(HANDLE* port, UNICODE_STRING* name, SECURITY_QUALITY_OF_SERVICE* qos,
                                    void* clientView, void* serverView, ULONG* maxMessageLength,
                                    void* connectionInformation, ULONG* connectionInformationLength);
typedef NTSTATUS (*NtSecureConnectPortFn)(HANDLE* port, UNICODE_STRING* name,
                                          SECURITY_QUALITY_OF_SERVICE* qos, void* clientView,
                                          void* requiredServerSid, void* serverView, ULONG* maxMessageLength,
                                          void* connectionInformation, ULONG* connectionInformationLength);
typedef NTSTATUS (*NtRequestPortFn)(HANDLE port, PORT_MESSAGE* request);
typedef NTSTATUS (*NtRequestWaitReplyPortFn)(HANDLE port, PORT_MESSAGE* request, PORT_MESSAGE* reply);
typedef NTSTATUS (*NtAlpcConnectPortFn)(HANDLE* port, UNICODE_STRING* name, void* objectAttributes,
                                        ALPC_PORT_ATTRIBUTES* portAttributes, ULONG flags,
                                        void* requiredServerSid, PORT_MESSAGE* connectionMessage,
                                        ULONG* bufferLength, ALPC_MESSAGE_ATTRIBUTES* outAttributes,
                                        ALPC_MESSAGE_ATTRIBUTES* inAttributes, LARGE_INTEGER* timeout);
typedef NTSTATUS (*NtAlpcSendWaitReceivePortFn)(HANDLE port, ULONG flags, PORT_MESSAGE* sendMessage,
                                                ALPC_MESSAGE_ATTRIBUTES* sendAttributes,
                                                PORT_MESSAGE* receiveMessage, SIZE_T* bufferLength,
                                                ALPC_MESSAGE_ATTRIBUTES* receiveAttributes,
                                                LARGE_INTEGER* timeout);
typedef NTSTATUS (*NtAlpcDisconnectPortFn)(HANDLE port, ULONG flags);
typedef NTSTATUS (*NtAlpcCreatePortSectionFn)(HANDLE port, ULONG flags, HANDLE sectionHandle,
                                              SIZE_T sectionSize, ALPC_HANDLE* alpcSection,
                                              SIZE_T* actualSectionSize);
typedef NTSTATUS (*NtAlpcCreateSectionViewFn)(HANDLE port, ULONG flags, ALPC_DATA_VIEW_ATTR* view);
typedef NTSTATUS (*NtAlpcDeleteSectionViewFn)(HANDLE port, ULONG flags, void* viewBase);
typedef NTSTATUS (*NtAlpcDeletePortSectionFn)(HANDLE port, ULONG flags, ALPC_HANDLE section);
typedef NTSTATUS (*AlpcInitializeMessageAttributeFn)(ULONG attributeFlags, ALPC_MESSAGE_ATTRIBUTES* buffer,
                                                     SIZE_T bufferSize, SIZE_T* requiredBufferSize);
typedef void* (*AlpcGetMessageAttributeFn)(ALPC_MESSAGE_ATTRIBUTES* buffer, ULONG attributeFlag);

// kernel32
typedef BOOL (*CloseHandleFn)(HANDLE handle);
typedef HANDLE (*CreateEventWFn)(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                                 const WCHAR* name);
typedef HANDLE (*CreateEventAFn)(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                                 const char* name);
typedef HANDLE (*CreateThreadFn)(SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE start, void* parameter, DWORD creationFlags,
                                 DWORD* threadId);
typedef DWORD (*ResumeThreadFn)(HANDLE thread);

// user32
typedef std::int64_t (*DispatchMessageWFn)(const MSG* message);

// advapi32
typedef long (*RegOpenKeyExWFn)(HKEY key, const WCHAR* subKey, DWORD options, DWORD access, HKEY* result);
typedef long (*RegQueryValueExWFn)(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                   std::uint8_t* data, DWORD* dataSize);
typedef long (*RegCloseKeyFn)(HKEY key);

}  // namespace Platform
}  // namespace Zun
