#include "ipc/CNtdll.h"

#include "ipc/LazyBindingStubs.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

Platform::RtlInitUnicodeStringFn CNtdll::RtlInitUnicodeString =
    &LazyStub<Platform::RtlInitUnicodeStringFn, &CNtdll::RtlInitUnicodeString, &CNtdll::Table>::Call;
Platform::NtConnectPortFn CNtdll::NtConnectPort =
    &LazyStub<Platform::NtConnectPortFn, &CNtdll::NtConnectPort, &CNtdll::Table>::Call;
Platform::NtSecureConnectPortFn CNtdll::NtSecureConnectPort =
    &LazyStub<Platform::NtSecureConnectPortFn, &CNtdll::NtSecureConnectPort, &CNtdll::Table>::Call;
Platform::NtRequestPortFn CNtdll::NtRequestPort =
    &LazyStub<Platform::NtRequestPortFn, &CNtdll::NtRequestPort, &CNtdll::Table>::Call;
Platform::NtRequestWaitReplyPortFn CNtdll::NtRequestWaitReplyPort =
    &LazyStub<Platform::NtRequestWaitReplyPortFn, &CNtdll::NtRequestWaitReplyPort, &CNtdll::Table>::Call;
Platform::NtAlpcConnectPortFn CNtdll::NtAlpcConnectPort =
    &LazyStub<Platform::NtAlpcConnectPortFn, &CNtdll::NtAlpcConnectPort, &CNtdll::Table>::Call;
Platform::NtAlpcSendWaitReceivePortFn CNtdll::NtAlpcSendWaitReceivePort =
    &LazyStub<Platform::NtAlpcSendWaitReceivePortFn, &CNtdll::NtAlpcSendWaitReceivePort,
              &CNtdll::Table>::Call;
Platform::NtAlpcDisconnectPortFn CNtdll::NtAlpcDisconnectPort =
    &LazyStub<Platform::NtAlpcDisconnectPortFn, &CNtdll::NtAlpcDisconnectPort, &CNtdll::Table>::Call;
Platform::NtAlpcCreatePortSectionFn CNtdll::NtAlpcCreatePortSection =
    &LazyStub<Platform::NtAlpcCreatePortSectionFn, &CNtdll::NtAlpcCreatePortSection, &CNtdll::Table>::Call;
Platform::NtAlpcCreateSectionViewFn CNtdll::NtAlpcCreateSectionView =
    &LazyStub<Platform::NtAlpcCreateSectionViewFn, &CNtdll::NtAlpcCreateSectionView, &CNtdll::Table>::Call;
Platform::NtAlpcDeleteSectionViewFn CNtdll::NtAlpcDeleteSectionView =
    &LazyStub<Platform::NtAlpcDeleteSectionViewFn, &CNtdll::NtAlpcDeleteSectionView, &CNtdll::Table>::Call;
Platform::NtAlpcDeletePortSectionFn CNtdll::NtAlpcDeletePortSection =
    &LazyStub<Platform::NtAlpcDeletePortSectionFn, &CNtdll::NtAlpcDeletePortSection, &CNtdll::Table>::Call;
Platform::AlpcInitializeMessageAttributeFn CNtdll::AlpcInitializeMessageAttribute =
    &LazyStub<Platform::AlpcInitializeMessageAttributeFn, &CNtdll::AlpcInitializeMessageAttribute,
              &CNtdll::Table>::Call;
Platform::AlpcGetMessageAttributeFn CNtdll::AlpcGetMessageAttribute =
    &LazyStub<Platform::AlpcGetMessageAttributeFn, &CNtdll::AlpcGetMessageAttribute, &CNtdll::Table>::Call;

CLazyBindingTable& CNtdll::Table() {
    static const LazyBindingEntry entries[] = {
        LazyEntry<Platform::RtlInitUnicodeStringFn, &CNtdll::RtlInitUnicodeString, 0>("RtlInitUnicodeString"),
        LazyEntry<Platform::NtConnectPortFn, &CNtdll::NtConnectPort, 0xC0000001LL>("NtConnectPort"),
        LazyEntry<Platform::NtSecureConnectPortFn, &CNtdll::NtSecureConnectPort, 0xC0000001LL>(
            "NtSecureConnectPort"),
        LazyEntry<Platform::NtRequestPortFn, &CNtdll::NtRequestPort, 0xC0000001LL>("NtRequestPort"),
        LazyEntry<Platform::NtRequestWaitReplyPortFn, &CNtdll::NtRequestWaitReplyPort, 0xC0000001LL>(
            "NtRequestWaitReplyPort"),
        LazyEntry<Platform::NtAlpcConnectPortFn, &CNtdll::NtAlpcConnectPort, 0xC0000001LL>(
            "NtAlpcConnectPort"),
        LazyEntry<Platform::NtAlpcSendWaitReceivePortFn, &CNtdll::NtAlpcSendWaitReceivePort, 0xC0000001LL>(
            "NtAlpcSendWaitReceivePort"),
        LazyEntry<Platform::NtAlpcDisconnectPortFn, &CNtdll::NtAlpcDisconnectPort, 0xC0000001LL>(
            "NtAlpcDisconnectPort"),
        LazyEntry<Platform::NtAlpcCreatePortSectionFn, &CNtdll::NtAlpcCreatePortSection, 0xC0000001LL>(
            "NtAlpcCreatePortSection"),
        LazyEntry<Platform::NtAlpcCreateSectionViewFn, &CNtdll::NtAlpcCreateSectionView, 0xC0000001LL>(
            "NtAlpcCreateSectionView"),
        LazyEntry<Platform::NtAlpcDeleteSectionViewFn, &CNtdll::NtAlpcDeleteSectionView, 0xC0000001LL>(
            "NtAlpcDeleteSectionView"),
        LazyEntry<Platform::NtAlpcDeletePortSectionFn, &CNtdll::NtAlpcDeletePortSection, 0xC0000001LL>(
            "NtAlpcDeletePortSection"),
        LazyEntry<Platform::AlpcInitializeMessageAttributeFn, &CNtdll::AlpcInitializeMessageAttribute,
                  0xC0000001LL>("AlpcInitializeMessageAttribute"),
        LazyEntry<Platform::AlpcGetMessageAttributeFn, &CNtdll::AlpcGetMessageAttribute, 0>(
            "AlpcGetMessageAttribute"),
    };
    static CLazyBindingTable table(u"ntdll.dll", entries, sizeof(entries) / sizeof(entries[0]));
    return table;
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
