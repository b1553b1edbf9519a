#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "ipc/CAdvapi32.h"
#include "ipc/CKernel32.h"
#include "ipc/CObjectName.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "ipc/CPixlinkGrowableBuffer.h"
#include "ipc/CUser32.h"
#include "ipc/LazyBindingStubs.h"
#include "platform/CBroadcastWriter.h"
#include "platform/CObjectNamespace.h"
#include "platform/CRegistryKey.h"
#include "tests/ipc/IpcTestSupport.h"
#include "tests/ipc/TestProduct.h"

namespace Zun {
namespace IpcTest {
namespace {

using namespace Connectors::Common::Pixlink;
using Platform::CObjectNamespace;
using Platform::WCHAR;

std::u16string Wide(const WCHAR* text) {
    return std::u16string(text);
}

TEST(ObjectNameTest, NamesPutTheIdsInTheirOrder) {
    WCHAR name[CObjectName::kCapacity];
    EXPECT_EQ(51u, CObjectName::Format(name, "\\BaseNamedObjects\\", kLocalId, kRemoteId, "CommPort"));
    EXPECT_EQ(u"\\BaseNamedObjects\\PIXLINK61464445To31464445CommPort", Wide(name));
    CObjectName::Format(name, "Global\\", 0xAB, 0x1234ABCD, "Broadcast");
    EXPECT_EQ(u"Global\\PIXLINK000000ABTo1234ABCDBroadcast", Wide(name));
}

TEST(ObjectNameTest, LongNamesAreTruncatedInsideTheBuffer) {
    struct {
        WCHAR name[CObjectName::kCapacity];
        WCHAR guard[4];
    } buffer;
    std::fill(std::begin(buffer.guard), std::end(buffer.guard), u'#');
    const std::string prefix(70, 'x');
    EXPECT_EQ(63u, CObjectName::Format(buffer.name, prefix.c_str(), 1, 2, "CommPortAlpc"));
    EXPECT_EQ(0, buffer.name[63]);
    EXPECT_EQ(u'#', buffer.guard[0]);
}

TEST(ObjectNamespaceTest, OnlyPlainNamesInTheGlobalNamespaceMapUnderTheRoot) {
    CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "/BaseNamedObjects/";
    EXPECT_EQ(folder + "A", CObjectNamespace::PathOf(std::string("\\BaseNamedObjects\\A")));
    EXPECT_EQ(folder + "A", CObjectNamespace::PathOf(std::string("Global\\A")));
    for (const char* bad : {"Global\\..", "Global\\a/b", "Global\\a\\b", "Global\\", "\\Other\\A", "A"}) {
        EXPECT_EQ("", CObjectNamespace::PathOf(std::string(bad))) << bad;
    }
}

TEST(GrowableBufferTest, GrowsByHalfOrToWhatIsNeeded) {
    CPixlinkGrowableBuffer buffer;
    ASSERT_TRUE(buffer.Append(Pattern(100).data(), 100));
    EXPECT_EQ(100u, buffer.Capacity());
    ASSERT_TRUE(buffer.Append(Pattern(10).data(), 10));
    EXPECT_EQ(150u, buffer.Capacity());
    ASSERT_TRUE(buffer.Append(Pattern(200).data(), 200));
    EXPECT_EQ(310u, buffer.Capacity());
    EXPECT_EQ(0, std::memcmp(buffer.Data() + 110, Pattern(200).data(), 200));
    buffer.Clear();
    EXPECT_EQ(0u, buffer.Length());
}

CLazyBindingTable& MissingTable();
typedef std::int32_t (*StatusFn)(int);
StatusFn g_missingStatus = &LazyStub<StatusFn, &g_missingStatus, &MissingTable>::Call;
typedef void* (*PointerFn)();
PointerFn g_missingPointer = &LazyStub<PointerFn, &g_missingPointer, &MissingTable>::Call;

CLazyBindingTable& MissingTable() {
    static const LazyBindingEntry entries[] = {
        LazyEntry<StatusFn, &g_missingStatus, 0xC0000001LL>("NtSomething"),
        LazyEntry<PointerFn, &g_missingPointer, 0>("Something"),
    };
    static CLazyBindingTable table(u"nosuchlibrary.dll", entries, 2);
    return table;
}

TEST(LazyBindingTest, MissingLibraryBindsEverySlotToItsFallback) {
    EXPECT_EQ(CLazyBindingTable::NotTried(), MissingTable().Module());
    EXPECT_EQ(static_cast<std::int32_t>(0xC0000001), g_missingStatus(1));
    EXPECT_TRUE(MissingTable().IsBound());
    EXPECT_EQ(nullptr, MissingTable().Module());
    EXPECT_EQ(nullptr, g_missingPointer());
}

TEST(LazyBindingTest, FunctionsTheSubstituteLacksFallBack) {
    Platform::MSG message = {};
    EXPECT_EQ(0, CUser32::DispatchMessageW(&message));
    EXPECT_EQ(0xFFFFFFFFu, CKernel32::ResumeThread(nullptr));
    EXPECT_EQ(nullptr, CKernel32::CreateEventA(nullptr, 0, 0, nullptr));
    EXPECT_NE(nullptr, CKernel32::Table().Module());
}

TEST(LazyBindingTest, RegistryFunctionsReadTheRegistrySubstitute) {
    CTemporaryObjectRoot root;
    Platform::CRegistryKey writable("HKEY_LOCAL_MACHINE\\Software\\Test", false);
    ASSERT_TRUE(writable.SetString("ProductVersion", "7.1"));
    Platform::HKEY key = nullptr;
    ASSERT_EQ(0, CAdvapi32::RegOpenKeyExW(Platform::HKEY_LOCAL_MACHINE_KEY(), u"Software\\Test", 0,
                                          Platform::KEY_READ, &key));
    Platform::DWORD size = 0;
    EXPECT_EQ(0, CAdvapi32::RegQueryValueExW(key, u"ProductVersion", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(8u, size);
    char16_t value[4] = {};
    EXPECT_EQ(0, CAdvapi32::RegQueryValueExW(key, u"ProductVersion", nullptr, nullptr,
                                             reinterpret_cast<std::uint8_t*>(value), &size));
    EXPECT_EQ(u"7.1", std::u16string(value));
    EXPECT_EQ(2, CAdvapi32::RegQueryValueExW(key, u"Missing", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0, CAdvapi32::RegCloseKey(key));
    EXPECT_EQ(2, CAdvapi32::RegOpenKeyExW(Platform::HKEY_LOCAL_MACHINE_KEY(), u"Software\\Nothing", 0,
                                          Platform::KEY_READ, &key));
}

TEST(ConnectionTest, ProductMayRefuseTheConnection) {
    CTemporaryObjectRoot root;
    CServerProcess product([] {
        Platform::CPixlinkPortServer lpc(Platform::kPortLpc, kLocalId, kRemoteId);
        Platform::CPixlinkPortServer alpc(Platform::kPortAlpc, kLocalId, kRemoteId);
        lpc.Port().SetConnectionFilter([](const std::vector<std::uint8_t>&) { return false; });
        alpc.Port().SetConnectionFilter([](const std::vector<std::uint8_t>&) { return false; });
        CServerProcess::Ready();
        Platform::CPortRequest request;
        for (;;) {
            lpc.Receive(request, 10);
            alpc.Receive(request, 10);
        }
    });
    ASSERT_TRUE(product.IsReady());
    CPixlinkClientNt<Platform::ULONG64> lpc;
    CPixlinkAlpcClient alpc;
    lpc.Init(kLocalId, kRemoteId, 0);
    alpc.Init(kLocalId, kRemoteId, 0);
    EXPECT_EQ(1u, lpc.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, alpc.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    lpc.Close();
    alpc.Close();
}

TEST(ConnectionTest, ProductOfAnotherUserIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a product as nobody";
    }
    CTemporaryObjectRoot root;
    const uid_t nobody = 65534;
    ASSERT_EQ(0, chown(root.Path().c_str(), nobody, nobody));
    CServerProcess product([nobody] {
        if (setgid(nobody) != 0 || setuid(nobody) != 0) {
            return;
        }
        CTestProduct alpc(Platform::kPortAlpc);
        Platform::CPixlinkPortServer lpc(Platform::kPortLpc, kLocalId, kRemoteId);
        Platform::CBroadcastWriter area(kLocalId, kRemoteId, 256);
        if (lpc.IsListening() && area.IsOpen()) {
            alpc.Serve();
        }
    });
    ASSERT_TRUE(product.IsReady());
    CPixlinkClientNt<Platform::ULONG64> lpc;
    CPixlinkAlpcClient alpc;
    lpc.Init(kLocalId, kRemoteId, 0);
    alpc.Init(kLocalId, kRemoteId, 0);
    std::uint32_t value = 0;
    EXPECT_EQ(1u, lpc.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, alpc.Request(0, kReport, nullptr, 0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(1u, alpc.ReadBroadcastDword(24, &value));
    lpc.Close();
    alpc.Close();
}

}  // namespace
}  // namespace IpcTest
}  // namespace Zun
