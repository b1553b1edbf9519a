// The product's replies must parse with the module's own parsers, and the module's requests with
// the product's parser: both halves of the contract, checked against each other.
#include <gtest/gtest.h>

#include <functional>

#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CWipeFDELogin.h"
#include "messages/Base64.h"
#include "messages/CExportConfigurationResponse.h"
#include "messages/CGetEncryptionRecoveryDataResponse.h"
#include "messages/CGetLicenseResponse.h"
#include "messages/CGetStatusResponse.h"
#include "messages/CGetTaskStatusResponse.h"
#include "tasks/CRecoveryDescrambler.h"
#include "tests/product/ProductTestSupport.h"
#include "tools/product/CReplyBuilder.h"
#include "tools/product/CRequestParser.h"

using namespace ProductTest;
using namespace Zun::Tools::Product;
namespace Module = Zun::Connectors::Common;
namespace Host = Zun::Common::Message::Connectors;

namespace {

Bytes Ok(const std::string& body) {
    return CReplyBuilder::Payload(0, body);
}

TEST(ReplyContract, StatusRecordsKeepTheirIdentifiers) {
    const std::vector<StatusEntry> entries = {
        {0, 0x12000001, 0x120000FD, std::nullopt},
        {1, 0x10, 0x20, 0x30},
        {2, 0x071000000000022B, 0x7FFFFFFFFFFFFFFF, std::nullopt},
        {0xFFFFFFFF, std::nullopt, std::nullopt, std::nullopt},
    };
    const auto reply = Parse<Module::CGetStatusResponse>(Factory().CreateGetStatusResponse(),
                                                         Ok(CReplyBuilder::StatusDocument(entries)));
    const auto& records = reply->GetProtectionStatusRecords();
    ASSERT_EQ(entries.size(), records.size());
    const std::optional<int64_t> levels[] = {1, 3, 5, std::nullopt};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Status, records[i].Status) << i;
        EXPECT_EQ(levels[i], records[i].Level) << i;
        EXPECT_EQ(entries[i].CategoryResId, records[i].CategoryResId) << i;
        EXPECT_EQ(entries[i].StatusResId, records[i].StatusResId) << i;
        EXPECT_EQ(entries[i].DescriptionResId, records[i].DescriptionResId) << i;
    }
}

TEST(ReplyContract, LicencesSurviveEscapingAndDates) {
    LicenceEntry full;
    full.AssociatedSeatId = "seat <1> & \"2\"";
    full.LicensePublicId = "id'1";
    full.LicenseProductName = "VELM & Co";
    full.LicenseExpirationDate = 1600000000;
    full.ActivatedByZun = true;
    full.ProductCode = 29;
    full.SeatName = "Desk <A>";
    full.LicenseRenewalPeriod = -5;
    full.LicenseType = "Subscription";
    full.LicenseFlags = 0x7FFFFFFFFFFFFFFF;
    full.LicenseModelType = "Seat";
    full.LicenseModelStatus = "Active";
    LicenceEntry bare;
    bare.AssociatedSeatId = bare.LicensePublicId = bare.LicenseProductName = "x";
    LicenceEntry early = bare;
    early.LicenseExpirationDate = -1;

    const auto reply = Parse<Module::CGetLicenseResponse>(
        Factory().CreateGetLicenseResponse(), Ok(CReplyBuilder::LicenceDocument({full, bare, early})));
    const auto& records = reply->GetLicenseRecords();
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(full.AssociatedSeatId, records[0].AssociatedSeatId);
    EXPECT_EQ(full.LicensePublicId, records[0].LicensePublicId);
    EXPECT_EQ(full.LicenseProductName, records[0].LicenseProductName);
    ASSERT_TRUE(records[0].LicenseExpirationDate.has_value());
    const auto& date = *records[0].LicenseExpirationDate;
    EXPECT_EQ(
        std::make_tuple(2020, 9, 13, 12, 26, 40),
        std::make_tuple(date.year(), date.month(), date.day(), date.hour(), date.minute(), date.second()));
    EXPECT_TRUE(records[0].ActivatedBy);
    EXPECT_EQ(full.ProductCode, records[0].ProductCode);
    EXPECT_EQ(full.SeatName, records[0].SeatName);
    EXPECT_EQ(full.LicenseRenewalPeriod, records[0].LicenseRenewalPeriod);
    EXPECT_EQ(full.LicenseType, records[0].LicenseType);
    EXPECT_EQ(full.LicenseFlags, records[0].LicenseFlags);
    EXPECT_EQ(full.LicenseModelType, records[0].LicenseModelType);
    EXPECT_EQ(full.LicenseModelStatus, records[0].LicenseModelStatus);

    EXPECT_FALSE(records[1].ActivatedBy);
    EXPECT_FALSE(records[1].LicenseExpirationDate.has_value()) << "no date travels as FFFFFFFF";
    EXPECT_FALSE(records[1].ProductCode || records[1].SeatName || records[1].LicenseType);
    ASSERT_TRUE(records[2].LicenseExpirationDate.has_value()) << "one second before 1970 is not the marker";
    EXPECT_EQ(1969, records[2].LicenseExpirationDate->year());
}

TEST(ReplyContract, TaskRecordsCarryTheUserDataBack) {
    struct Case {
        uint32_t result;
        int64_t code;
        uint32_t state;
    };
    for (const Case& c : {Case{0, 0x10000000A, 20}, Case{1, 0x10000000B, 30}, Case{5, 0x10000000C, 40}}) {
        const auto reply = Parse<Module::CGetTaskStatusResponse>(
            Factory().CreateGetTaskStatusResponse(),
            Ok(CReplyBuilder::TaskRecord(TaskResult{UserData, c.result})));
        const auto records = reply->GetTaskLogRecords();
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(First, records[0].FirstId.uuid());
        EXPECT_EQ(Second, records[0].SecondId.uuid());
        EXPECT_EQ(Third, records[0].ThirdId.uuid());
        EXPECT_EQ(c.code, records[0].Code);
        EXPECT_EQ(c.state, records[0].State);
    }
    const auto none = Parse<Module::CGetTaskStatusResponse>(Factory().CreateGetTaskStatusResponse(), Ok(""));
    EXPECT_TRUE(none->GetTaskLogRecords().empty());
}

TEST(ReplyContract, RecoveryMaterialUnscramblesToTheSecret) {
    const std::string binary("\0\x01\xFF secret\0", 11);
    const std::vector<RecoveryPasswordEntry> passwords = {{"p\"1", "disk<0>", "0", "111111-222222"},
                                                          {"p2", "disk1", "1", binary}};
    const std::vector<RecoveryDataEntry> data = {{"d&1", "disk0", std::string(300, 'k')}};
    const auto reply = Parse<Module::CGetEncryptionRecoveryDataResponse>(
        Factory().CreateGetEncryptionRecoveryDataResponse(),
        Ok(CReplyBuilder::RecoveryDocument(passwords, data)));
    const Module::RecoveryDataSet& set = reply->GetRecoveryDataSet();
    ASSERT_EQ(2u, set.RecoveryPasswords.size());
    ASSERT_EQ(1u, set.RecoveryData.size());
    const auto unscramble = [](const std::string& value) {
        return Module::Tasks::CRecoveryDescrambler::Descramble(Module::DecodeBase64(value));
    };
    for (size_t i = 0; i < passwords.size(); ++i) {
        EXPECT_EQ(passwords[i].Uid, set.RecoveryPasswords[i].Uid);
        EXPECT_EQ(passwords[i].DeviceId, set.RecoveryPasswords[i].DeviceId);
        EXPECT_EQ(passwords[i].Index, set.RecoveryPasswords[i].Index);
        EXPECT_NE(passwords[i].Secret, Module::DecodeBase64(set.RecoveryPasswords[i].Value)) << "scrambled";
        EXPECT_EQ(passwords[i].Secret, unscramble(set.RecoveryPasswords[i].Value));
    }
    EXPECT_EQ(data[0].Uid, set.RecoveryData[0].Uid);
    EXPECT_EQ(data[0].Secret, unscramble(set.RecoveryData[0].Value));
}

TEST(ReplyContract, ExportedConfigurationIsByteForByte) {
    for (const std::string& configuration :
         {std::string(), std::string("<a>\0b</a>", 9), std::string(70000, 'c')}) {
        const auto reply = Parse<Module::CExportConfigurationResponse>(
            Factory().CreateExportConfigurationResponse(), Ok(configuration));
        EXPECT_EQ(configuration, reply->GetConfiguration());
    }
}

struct RequestCase {
    const char* name;
    std::function<Bytes()> build;
    uint32_t command;
    std::string function;
    std::map<std::string, std::string> nodes;
};

Bytes Serialize(const Module::IChannelMessageFactory::MessagePtr& request) {
    return request->Serialize();
}

Bytes Activation(const std::string& licence, const std::string& managed) {
    auto task = Task<Host::Product::Task::CProductActivation>();
    task->SetLicenseFile(licence);
    task->SetManagedActivation(managed);
    return Serialize(Factory().CreateActivationRequest(task));
}

Bytes Maintenance() {
    auto task = Task<Host::QUILConnector::Task::CEnableFDEMaintenanceMode>();
    task->MutableEnableMaintenanceMode().set_seconds(3600);
    task->MutableEnableMaintenanceMode().set_bootcycles(2);
    return Serialize(Factory().CreateEnableFDEMaintenanceModeRequest(task));
}

const RequestCase kRequests[] = {
    {"GetStatus", [] { return Serialize(Factory().CreateGetStatusRequest()); }, 33, "", {}},
    {"GetLicense", [] { return Serialize(Factory().CreateGetLicenseRequest()); }, 138, "", {}},
    {"GetTaskStatus", [] { return Serialize(Factory().CreateGetTaskStatusRequest()); }, 112, "", {}},
    {"Export", [] { return Serialize(Factory().CreateExportConfigurationRequest()); }, 110, "", {}},
    {"ActivationLicence",
     [] { return Activation(std::string("LIC\0FILE", 8), "ignored"); },
     2,
     "ACTIVATION",
     {{"USERDATA", UserData}, {"LICENSE_FILE", Module::EncodeBase64(std::string("LIC\0FILE", 8))}}},
    {"ActivationManaged",
     [] { return Activation("", "token"); },
     2,
     "ACTIVATION",
     {{"USERDATA", UserData}, {"MANAGED_ACTIVATION", "token"}}},
    {"Block",
     [] {
         return Serialize(
             Factory().CreateBlockFDEPasswordRequest(Task<Host::QUILConnector::CBlockFDELogin>()));
     },
     2,
     "BLOCK_FDE_ENCRYPTION_PASSWORD",
     {{"USERDATA", UserData}}},
    {"Invalidate",
     [] {
         return Serialize(
             Factory().CreateInvalidateFDEPasswordRequest(Task<Host::QUILConnector::CInvalidateFDELogin>()));
     },
     2,
     "INVALIDATE_FDE_ENCRYPTION_PASSWORD",
     {{"USERDATA", UserData}}},
    {"Wipe",
     [] {
         return Serialize(Factory().CreateWipeFDEPasswordRequest(Task<Host::QUILConnector::CWipeFDELogin>()));
     },
     2,
     "WIPE_FDE_ENCRYPTION_PASSWORD",
     {{"USERDATA", UserData}}},
    {"Enable",
     Maintenance,
     2,
     "ENABLE_MAINTENANCE_MODE",
     {{"USERDATA", UserData}, {"BOOTS", "2"}, {"SECONDS", "3600"}}},
    {"Disable",
     [] {
         return Serialize(Factory().CreateDisableFDEMaintenanceModeRequest(
             Task<Host::QUILConnector::Task::CDisableFDEMaintenanceMode>()));
     },
     2,
     "DISABLE_MAINTENANCE_MODE",
     {{"USERDATA", UserData}}},
    {"GetRecovery",
     [] { return Serialize(Factory().CreateGetEncryptionRecoveryDataRequest()); },
     2,
     "GET_ENCRYPTION_RECOVERY_DATA",
     {}},
};

class RequestContract : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestContract, ProductReadsWhatTheFactoryBuilds) {
    const RequestCase& c = GetParam();
    const ProductRequest request = CRequestParser::Parse(c.build());
    EXPECT_EQ(c.command, request.Command);
    EXPECT_EQ(c.function, request.Function);
    EXPECT_EQ(c.nodes, request.Nodes);
}

INSTANTIATE_TEST_SUITE_P(Factory, RequestContract, testing::ValuesIn(kRequests),
                         [](const testing::TestParamInfo<RequestCase>& info) { return info.param.name; });

TEST(RequestContractBodies, ConfirmationImportAndAgentIdentifier) {
    Module::RecoveryDataSet confirmed;
    confirmed.RecoveryPasswords = {{"p1", "", "", ""}, {"p2", "", "", ""}};
    confirmed.RecoveryData = {{"d1", "", ""}};
    const ProductRequest confirm =
        CRequestParser::Parse(Factory().CreateConfirmEncryptionRecoveryDataRequest(confirmed)->Serialize());
    EXPECT_EQ("CONFIRM_ENCRYPTION_RECOVERY_DATA", confirm.Function);
    EXPECT_EQ((std::vector<std::string>{"p1", "p2"}), confirm.ConfirmedPasswords);
    EXPECT_EQ(std::vector<std::string>{"d1"}, confirm.ConfirmedData);

    const std::string policy("<policy>\0</policy>", 18);
    const ProductRequest import =
        CRequestParser::Parse(Factory().CreateImportConfigurationRequest(policy)->Serialize());
    EXPECT_EQ(109u, import.Command);
    EXPECT_EQ(policy, import.Body);

    const ProductRequest agent =
        CRequestParser::Parse(Factory().CreateSendAgentUUIDRequest(First)->Serialize());
    EXPECT_EQ(154u, agent.Command);
    EXPECT_EQ(First, agent.AgentId);
}

}  // namespace
