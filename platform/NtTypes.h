#pragma once

// The Windows and NT types, layouts and constants that the port clients and the broadcast reader use,
// declared here with their 64-bit Windows layout so that the same code builds on Linux against the
// substitute of the system libraries.

#include <cstddef>
#include <cstdint>

namespace Zun {
namespace Platform {

typedef std::int32_t NTSTATUS;
typedef std::uint8_t BOOLEAN;
typedef std::int32_t BOOL;
typedef std::uint16_t USHORT;
typedef std::int16_t CSHORT;
typedef std::uint16_t WORD;
typedef std::uint32_t ULONG;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONG64;
typedef std::size_t SIZE_T;
typedef char16_t WCHAR;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HWND;
typedef void* HKEY;
typedef HANDLE ALPC_HANDLE;
// A generic function pointer, cast to the real signature by whoever looked it up.
typedef void (*FARPROC)();

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR* Buffer;
};

struct CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
};

struct PORT_MESSAGE {
    union {
        struct {
            CSHORT DataLength;
            CSHORT TotalLength;
        } s1;
        ULONG Length;
    } u1;
    union {
        struct {
            CSHORT Type;
            CSHORT DataInfoOffset;
        } s2;
        ULONG ZeroInit;
    } u2;
    union {
        CLIENT_ID ClientId;
        double DoNotUseThisField;
    };
    ULONG MessageId;
    union {
        SIZE_T ClientViewSize;
        ULONG CallbackId;
    };
};

struct SECURITY_QUALITY_OF_SERVICE {
    DWORD Length;
    std::int32_t ImpersonationLevel;
    BOOLEAN ContextTrackingMode;
    BOOLEAN EffectiveOnly;
};

struct ALPC_PORT_ATTRIBUTES {
    ULONG Flags;
    SECURITY_QUALITY_OF_SERVICE SecurityQos;
    SIZE_T MaxMessageLength;
    SIZE_T MemoryBandwidth;
    SIZE_T MaxPoolUsage;
    SIZE_T MaxSectionSize;
    SIZE_T MaxViewSize;
    SIZE_T MaxTotalSectionSize;
    ULONG DupObjectTypes;
    ULONG Reserved;
};

struct ALPC_MESSAGE_ATTRIBUTES {
    ULONG AllocatedAttributes;
    ULONG ValidAttributes;
};

struct ALPC_DATA_VIEW_ATTR {
    ULONG Flags;
    ALPC_HANDLE SectionHandle;
    void* ViewBase;
    SIZE_T ViewSize;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct MEMORY_BASIC_INFORMATION {
    void* BaseAddress;
    void* AllocationBase;
    DWORD AllocationProtect;
    WORD PartitionId;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
};

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    std::uint32_t message;
    std::uint64_t wParam;
    std::int64_t lParam;
    DWORD time;
    POINT pt;
    DWORD lPrivate;
};

typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);

static_assert(sizeof(PORT_MESSAGE) == 40, "64-bit PORT_MESSAGE layout");
static_assert(sizeof(SECURITY_QUALITY_OF_SERVICE) == 12, "64-bit SECURITY_QUALITY_OF_SERVICE layout");
static_assert(sizeof(ALPC_PORT_ATTRIBUTES) == 72, "64-bit ALPC_PORT_ATTRIBUTES layout");
static_assert(sizeof(ALPC_DATA_VIEW_ATTR) == 32, "64-bit ALPC_DATA_VIEW_ATTR layout");
static_assert(sizeof(UNICODE_STRING) == 16, "64-bit UNICODE_STRING layout");
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48, "64-bit MEMORY_BASIC_INFORMATION layout");

// windows.h defines many of these names as macros. Whichever header a translation unit includes
// first, the declarations below see no macro, and the macros come back after them.
#ifdef _WIN32
#pragma push_macro("STATUS_SUCCESS")
#undef STATUS_SUCCESS
#pragma push_macro("STATUS_TIMEOUT")
#undef STATUS_TIMEOUT
#pragma push_macro("STATUS_UNSUCCESSFUL")
#undef STATUS_UNSUCCESSFUL
#pragma push_macro("STATUS_INVALID_HANDLE")
#undef STATUS_INVALID_HANDLE
#pragma push_macro("STATUS_INVALID_PARAMETER")
#undef STATUS_INVALID_PARAMETER
#pragma push_macro("STATUS_NO_MEMORY")
#undef STATUS_NO_MEMORY
#pragma push_macro("STATUS_ACCESS_DENIED")
#undef STATUS_ACCESS_DENIED
#pragma push_macro("STATUS_BUFFER_TOO_SMALL")
#undef STATUS_BUFFER_TOO_SMALL
#pragma push_macro("STATUS_OBJECT_NAME_INVALID")
#undef STATUS_OBJECT_NAME_INVALID
#pragma push_macro("STATUS_OBJECT_NAME_NOT_FOUND")
#undef STATUS_OBJECT_NAME_NOT_FOUND
#pragma push_macro("STATUS_PORT_DISCONNECTED")
#undef STATUS_PORT_DISCONNECTED
#pragma push_macro("STATUS_PORT_CONNECTION_REFUSED")
#undef STATUS_PORT_CONNECTION_REFUSED
#pragma push_macro("STATUS_INVALID_PORT_HANDLE")
#undef STATUS_INVALID_PORT_HANDLE
#pragma push_macro("STATUS_PORT_MESSAGE_TOO_LONG")
#undef STATUS_PORT_MESSAGE_TOO_LONG
#pragma push_macro("STATUS_INVALID_VIEW_SIZE")
#undef STATUS_INVALID_VIEW_SIZE
#pragma push_macro("STATUS_IO_TIMEOUT")
#undef STATUS_IO_TIMEOUT
#pragma push_macro("WAIT_OBJECT_0")
#undef WAIT_OBJECT_0
#pragma push_macro("WAIT_ABANDONED")
#undef WAIT_ABANDONED
#pragma push_macro("WAIT_TIMEOUT")
#undef WAIT_TIMEOUT
#pragma push_macro("WAIT_FAILED")
#undef WAIT_FAILED
#pragma push_macro("INFINITE")
#undef INFINITE
#pragma push_macro("QS_ALLINPUT")
#undef QS_ALLINPUT
#pragma push_macro("PM_REMOVE")
#undef PM_REMOVE
#pragma push_macro("SYNCHRONIZE")
#undef SYNCHRONIZE
#pragma push_macro("MUTANT_QUERY_STATE")
#undef MUTANT_QUERY_STATE
#pragma push_macro("FILE_MAP_READ")
#undef FILE_MAP_READ
#pragma push_macro("PAGE_READONLY")
#undef PAGE_READONLY
#pragma push_macro("MEM_COMMIT")
#undef MEM_COMMIT
#pragma push_macro("MEM_MAPPED")
#undef MEM_MAPPED
#pragma push_macro("ERROR_SUCCESS")
#undef ERROR_SUCCESS
#pragma push_macro("ERROR_FILE_NOT_FOUND")
#undef ERROR_FILE_NOT_FOUND
#pragma push_macro("ERROR_MORE_DATA")
#undef ERROR_MORE_DATA
#pragma push_macro("REG_SZ")
#undef REG_SZ
#pragma push_macro("KEY_READ")
#undef KEY_READ
#pragma push_macro("ALPC_MSGFLG_RELEASE_MESSAGE")
#undef ALPC_MSGFLG_RELEASE_MESSAGE
#pragma push_macro("ALPC_MSGFLG_SYNC_REQUEST")
#undef ALPC_MSGFLG_SYNC_REQUEST
#pragma push_macro("ALPC_MESSAGE_VIEW_ATTRIBUTE")
#undef ALPC_MESSAGE_VIEW_ATTRIBUTE
#pragma push_macro("ALPC_VIEWFLG_UNMAP_EXISTING")
#undef ALPC_VIEWFLG_UNMAP_EXISTING
#pragma push_macro("LPC_REPLY")
#undef LPC_REPLY
#pragma push_macro("LPC_CONTINUATION_REQUIRED")
#undef LPC_CONTINUATION_REQUIRED
#pragma push_macro("NT_SUCCESS")
#undef NT_SUCCESS
#endif

// NT statuses. Negative (as NTSTATUS) means failure.
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_TIMEOUT = 0x102;
constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS STATUS_NO_MEMORY = static_cast<NTSTATUS>(0xC0000017);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS STATUS_PORT_DISCONNECTED = static_cast<NTSTATUS>(0xC0000037);
constexpr NTSTATUS STATUS_PORT_CONNECTION_REFUSED = static_cast<NTSTATUS>(0xC0000041);
constexpr NTSTATUS STATUS_INVALID_PORT_HANDLE = static_cast<NTSTATUS>(0xC0000042);
constexpr NTSTATUS STATUS_PORT_MESSAGE_TOO_LONG = static_cast<NTSTATUS>(0xC000002F);
constexpr NTSTATUS STATUS_INVALID_VIEW_SIZE = static_cast<NTSTATUS>(0xC000001F);
constexpr NTSTATUS STATUS_IO_TIMEOUT = static_cast<NTSTATUS>(0xC00000B5);
// The port is served by another account than the one the client required.
constexpr NTSTATUS STATUS_SERVER_SID_MISMATCH = static_cast<NTSTATUS>(0xC00002A0);

// Wait results and other kernel32 constants.
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD QS_ALLINPUT = 0x04FF;
constexpr std::uint32_t PM_REMOVE = 1;
constexpr DWORD SYNCHRONIZE = 0x100000;
constexpr DWORD MUTANT_QUERY_STATE = 0x1;
constexpr DWORD FILE_MAP_READ = 4;
constexpr DWORD PAGE_READONLY = 2;
constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_MAPPED = 0x40000;
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_MORE_DATA = 234;
constexpr DWORD REG_SZ = 1;
constexpr DWORD KEY_READ = 0x20019;

// Impersonation levels of a security quality of service: identification lets the server learn who
// the client is, impersonation lets it act as the client.
constexpr std::int32_t SecurityIdentification = 1;
constexpr std::int32_t SecurityImpersonation = 2;

// ALPC constants.
constexpr ULONG ALPC_MSGFLG_RELEASE_MESSAGE = 0x10000;
constexpr ULONG ALPC_MSGFLG_SYNC_REQUEST = 0x20000;
constexpr ULONG ALPC_MESSAGE_VIEW_ATTRIBUTE = 0x40000000;
constexpr ULONG ALPC_VIEWFLG_UNMAP_EXISTING = 0x10000;
constexpr CSHORT LPC_REPLY = 2;
constexpr CSHORT LPC_CONTINUATION_REQUIRED = 0x2000;

inline bool NT_SUCCESS(NTSTATUS status) {
    return status >= 0;
}

#ifdef _WIN32
#pragma pop_macro("STATUS_SUCCESS")
#pragma pop_macro("STATUS_TIMEOUT")
#pragma pop_macro("STATUS_UNSUCCESSFUL")
#pragma pop_macro("STATUS_INVALID_HANDLE")
#pragma pop_macro("STATUS_INVALID_PARAMETER")
#pragma pop_macro("STATUS_NO_MEMORY")
#pragma pop_macro("STATUS_ACCESS_DENIED")
#pragma pop_macro("STATUS_BUFFER_TOO_SMALL")
#pragma pop_macro("STATUS_OBJECT_NAME_INVALID")
#pragma pop_macro("STATUS_OBJECT_NAME_NOT_FOUND")
#pragma pop_macro("STATUS_PORT_DISCONNECTED")
#pragma pop_macro("STATUS_PORT_CONNECTION_REFUSED")
#pragma pop_macro("STATUS_INVALID_PORT_HANDLE")
#pragma pop_macro("STATUS_PORT_MESSAGE_TOO_LONG")
#pragma pop_macro("STATUS_INVALID_VIEW_SIZE")
#pragma pop_macro("STATUS_IO_TIMEOUT")
#pragma pop_macro("WAIT_OBJECT_0")
#pragma pop_macro("WAIT_ABANDONED")
#pragma pop_macro("WAIT_TIMEOUT")
#pragma pop_macro("WAIT_FAILED")
#pragma pop_macro("INFINITE")
#pragma pop_macro("QS_ALLINPUT")
#pragma pop_macro("PM_REMOVE")
#pragma pop_macro("SYNCHRONIZE")
#pragma pop_macro("MUTANT_QUERY_STATE")
#pragma pop_macro("FILE_MAP_READ")
#pragma pop_macro("PAGE_READONLY")
#pragma pop_macro("MEM_COMMIT")
#pragma pop_macro("MEM_MAPPED")
#pragma pop_macro("ERROR_SUCCESS")
#pragma pop_macro("ERROR_FILE_NOT_FOUND")
#pragma pop_macro("ERROR_MORE_DATA")
#pragma pop_macro("REG_SZ")
#pragma pop_macro("KEY_READ")
#pragma pop_macro("ALPC_MSGFLG_RELEASE_MESSAGE")
#pragma pop_macro("ALPC_MSGFLG_SYNC_REQUEST")
#pragma pop_macro("ALPC_MESSAGE_VIEW_ATTRIBUTE")
#pragma pop_macro("ALPC_VIEWFLG_UNMAP_EXISTING")
#pragma pop_macro("LPC_REPLY")
#pragma pop_macro("LPC_CONTINUATION_REQUIRED")
#pragma pop_macro("NT_SUCCESS")
#endif

inline HANDLE HKEY_LOCAL_MACHINE_KEY() {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x80000002));
}

}  // namespace Platform
}  // namespace Zun
