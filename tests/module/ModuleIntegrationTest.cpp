// The module as a host runs it: loaded from its shared library (the build with short waits), fed
// by a host bus that brings published requests back, and talking to the real quil-product over
// real ports and a real broadcast area in another process.
#include <Poco/ClassLoader.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "host/CBlockFDELogin.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "host/CRequestConfigurationMessage.h"
#include "host/IModule.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "tests/support/CProductProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/support/CTestHost.h"

using namespace Zun;
using namespace Zun::Common::Message;
using Common::Kernel::IModule;
using Testing::CProductProcess;
using Testing::CTestHost;

namespace {

const std::string kFirst = "a1a1a1a1-0000-4000-8000-000000000001";
const std::string kSecond = "b2b2b2b2-0000-4000-8000-000000000002";
const std::string kThird = "c3c3c3c3-0000-4000-8000-000000000003";
const std::string kSecret = "123456-654321";
const char* const kState = R"({
  "Status": [{"Status": 0, "CategoryResId": "0x12000001", "StatusResId": "0x120000FD"}],
  "Licenses": [{"AssociatedSeatId": "SEAT-1", "LicensePublicId": "ID-1", "LicenseProductName": "VELM FDE",
                "ActivatedByZun": false, "ProductCode": 29}],
  "RecoveryPasswords": [{"Uid": "rp-1", "DeviceId": "disk-0", "Index": "0", "Value": "123456-654321"}],
  "RecoveryData": [{"Uid": "rd-1", "DeviceId": "disk-0", "ValueBase64": "AAEC"}],
  "Configuration": "<VELM><CONFIG/></VELM>"
})";

template <typename T>
boost::shared_ptr<T> Task() {
    auto task = boost::make_shared<T>();
    task->SetTaskIdentifiers(kFirst, kSecond, kThird);
    return task;
}

template <typename T>
boost::shared_ptr<T> Last(CTestHost& host, Common::Kernel::MessageType type) {
    const auto published = host.PublishedOfType(type);
    return published.empty() ? boost::shared_ptr<T>()
                             : boost::dynamic_pointer_cast<T>(published.back().message);
}

class ModuleIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, CProductProcess::Run(QUIL_PRODUCT_BINARY, {"install"}).first);
        host.EnableLoopback();
        loader.loadLibrary(QUIL_CONNECTOR_TESTING_PATH);
    }
    void TearDown() override {
        if (module) {
            module->Stop();
            module->Terminate(true);
            module.reset();
        }
        product.reset();
        loader.unloadLibrary(QUIL_CONNECTOR_TESTING_PATH);
    }
    void Serve() {
        const std::string state = root.Path() + "/state.json";
        std::ofstream(state) << kState;
        product.reset(new CProductProcess(QUIL_PRODUCT_BINARY, {"--state", state}));
        ASSERT_TRUE(product->WaitUntilServing());
    }
    void StartModule() {
        module.reset(loader.create("Zun::Connectors::QUILConnector::CConnectorModule"));
        module->Initialize(host);
        module->Start();
    }
    std::string Show() {
        return CProductProcess::Run(QUIL_PRODUCT_BINARY, {"ctl", "{\"op\":\"show\"}"}).second;
    }
    bool Published(Common::Kernel::MessageType type, size_t count = 1) {
        return host.WaitFor([&] { return host.CountPublished(type) >= count; }, std::chrono::seconds(20));
    }

    Testing::CTemporaryObjectRoot root;
    CTestHost host;
    Poco::ClassLoader<IModule> loader;
    std::unique_ptr<CProductProcess> product;
    std::unique_ptr<IModule> module;
};

TEST_F(ModuleIntegrationTest, ConnectsAndKeepsTheManagementSideCurrent) {
    Serve();
    StartModule();
    ASSERT_TRUE(Published(10292) && Published(10405) && Published(10044));
    const auto subscriptions = host.Subscriptions();
    std::set<Common::Kernel::MessageType> types;
    for (const auto& entry : subscriptions) {
        types.insert(entry.first);
    }
    EXPECT_EQ((std::set<Common::Kernel::MessageType>{5, 9, 46, 188, 721, 722, 723, 729, 740, 741}), types);
    EXPECT_EQ(5u, subscriptions.count(9));

    // The watchdog's first look at the broadcast values asks for everything.
    ASSERT_TRUE(Published(10553) && Published(10348) && Published(728));
    auto storage = Last<Logs::CStatusLog>(host, 10553);
    ASSERT_EQ(1u, storage->GetRows()->GetRowCount());
    EXPECT_EQ(CTestHost::InstanceUUID(), storage->GetRows()->GetRow(0)->GetUuid(4670).uuid());
    auto licences = Last<Logs::CMultiProductStatusLog>(host, 10348);
    ASSERT_GE(licences->GetRows()->GetRowCount(), 1u);
    EXPECT_EQ(29, licences->GetRows()->GetRow(0)->GetInt(2750));
    EXPECT_NO_THROW(licences->Validate());
    auto recovery = Last<Connectors::QUILConnector::CQUILProcessRecoveryDataRequest>(host, 728);
    const auto& data = recovery->GetFDERecoveryData();
    ASSERT_EQ(1, data.recovery_passwords_size());
    EXPECT_EQ(kSecret, data.recovery_passwords(0).recovery_password()) << "decoded and unscrambled";
    ASSERT_EQ(1, data.recovery_data_blocks_size());
    EXPECT_EQ(std::string("\0\1\2", 3), data.recovery_data_blocks(0).recovery_data());

    // A command's result comes back through the task-status broadcast value as an event.
    host.Deliver(Task<Connectors::QUILConnector::CBlockFDELogin>());
    ASSERT_TRUE(Published(10368));
    auto result = Last<Logs::CEventLog>(host, 10368);
    const auto& event = *result->GetContainer();
    EXPECT_EQ(kFirst, event.GetUuid(2842).uuid());
    EXPECT_EQ(kThird, event.GetUuid(2846).uuid());
    EXPECT_EQ(kSecond, event.GetUuid(2844).uuid());
    EXPECT_EQ(0x071000000000081BLL, event.GetResId(2853));
    EXPECT_NO_THROW(result->Validate());

    // The agent's answer confirms the escrowed material, which the product then forgets.
    auto answer = boost::make_shared<Connectors::QUILConnector::CQUILProcessRecoveryDataResponse>();
    answer->MutableFDERecoveryData().add_recovery_passwords()->set_internalid(
        data.recovery_passwords(0).internalid());
    answer->MutableFDERecoveryData().add_recovery_data_blocks()->set_internalid(
        data.recovery_data_blocks(0).internalid());
    host.Deliver(answer);
    EXPECT_TRUE(host.WaitFor(
        [&] { return Show().find(data.recovery_passwords(0).internalid()) == std::string::npos; }));

    // Configuration export: the configuration itself, then the done event.
    auto request = Task<Configuration::CRequestConfigurationMessage>();
    request->MutableRequestConfiguration().set_producttype(10);
    host.Deliver(request);
    ASSERT_TRUE(Published(10244) && Published(10368, 2));
    auto exported = Last<Logs::CEventLog>(host, 10244);
    EXPECT_NO_THROW(exported->Validate());
    EXPECT_EQ("<VELM><CONFIG/></VELM>", exported->GetContainer()->GetBlob(1892));
    EXPECT_EQ(30, Last<Logs::CEventLog>(host, 10368)->GetContainer()->GetInt(2850));

    for (const auto& line : host.Lines()) {
        EXPECT_EQ(std::string::npos, line.text.find(kSecret)) << line.text;
    }
    EXPECT_EQ(std::string::npos, product->Output().find(kSecret));
}

TEST_F(ModuleIntegrationTest, UnreachableProductIsReported) {
    StartModule();
    ASSERT_TRUE(Published(10044));
    auto status = Last<Logs::CStatusLog>(host, 10044);
    EXPECT_EQ(6, status->GetRows()->GetRow(0)->GetInt(241));
    EXPECT_EQ(0x0710000000000221LL, status->GetRows()->GetRow(0)->GetResId(247));
    EXPECT_EQ(0u, host.CountPublished(10292));
    bool logged = false;
    bool traced = false;
    for (const auto& line : host.Lines()) {
        logged |= line.level == 3 &&
                  line.text.find("Cannot start pixlink channel: Ping (CCCOMM_PING) failed with ") == 0;
        // No product serves the ports: both connects are refused with STATUS_OBJECT_NAME_NOT_FOUND.
        traced |= line.level == 1 && line.text ==
                                         "Connecting to the product failed: ALPC connect NTSTATUS "
                                         "0xC0000034, LPC connect NTSTATUS 0xC0000034";
    }
    EXPECT_TRUE(logged);
    EXPECT_TRUE(traced);
}

}  // namespace
