#pragma once

#include "ipc/CLazyBindingTable.h"
#include "platform/NtFunctions.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// The ntdll functions of the port clients, bound at first use. Each slot may be replaced (after Bind) to
// put something else in the system function's place.
class CNtdll {
public:
    static CLazyBindingTable& Table();

    static Platform::RtlInitUnicodeStringFn RtlInitUnicodeString;
    static Platform::NtConnectPortFn NtConnectPort;
    static Platform::NtSecureConnectPortFn NtSecureConnectPort;
    static Platform::NtRequestPortFn NtRequestPort;
    static Platform::NtRequestWaitReplyPortFn NtRequestWaitReplyPort;
    static Platform::NtAlpcConnectPortFn NtAlpcConnectPort;
    static Platform::NtAlpcSendWaitReceivePortFn NtAlpcSendWaitReceivePort;
    static Platform::NtAlpcDisconnectPortFn NtAlpcDisconnectPort;
    static Platform::NtAlpcCreatePortSectionFn NtAlpcCreatePortSection;
    static Platform::NtAlpcCreateSectionViewFn NtAlpcCreateSectionView;
    static Platform::NtAlpcDeleteSectionViewFn NtAlpcDeleteSectionView;
    static Platform::NtAlpcDeletePortSectionFn NtAlpcDeletePortSection;
    static Platform::AlpcInitializeMessageAttributeFn AlpcInitializeMessageAttribute;
    static Platform::AlpcGetMessageAttributeFn AlpcGetMessageAttribute;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
