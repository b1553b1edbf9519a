// How the product's state moves: finished commands queue results and announce them, recovery
// material is announced until confirmed, bad requests get error statuses.
#include <gtest/gtest.h>

#include <functional>

#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CWipeFDELogin.h"
#include "messages/CGetEncryptionRecoveryDataResponse.h"
#include "messages/CGetLicenseResponse.h"
#include "messages/CGetStatusResponse.h"
#include "messages/CGetTaskStatusResponse.h"
#include "tests/product/ProductTestSupport.h"
#include "tools/product/CJsonReader.h"
#include "tools/product/CProduct.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CReplyBuilder.h"

using namespace ProductTest;
using namespace Zun::Tools::Product;
namespace Module = Zun::Connectors::Common;
namespace Host = Zun::Common::Message::Connectors;

namespace {

Bytes Payload(const CProduct::Reply& reply) {
    return CReplyBuilder::Payload(reply.Status, reply.Body);
}

void PutWord(Bytes& bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(word >> shift));
    }
}

// A request payload: the command header {12, plug-in id, command} and the body.
Bytes Request(uint32_t command, const std::string& body = "") {
    Bytes bytes;
    for (uint32_t word : {12u, 0x1000600u, command}) {
        PutWord(bytes, word);
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

class ProductBehaviour : public testing::Test {
protected:
    ProductBehaviour() { CProductLog::SetEnabled(false); }

    CProductState EmptyState() {
        CProductState state;
        state.Licenses = CProductState::Default().Licenses;
        return state;
    }
    Module::RecoveryDataSet Recovery(CProduct& product) {
        const auto reply = Parse<Module::CGetEncryptionRecoveryDataResponse>(
            Factory().CreateGetEncryptionRecoveryDataResponse(),
            Payload(product.Handle(Factory().CreateGetEncryptionRecoveryDataRequest()->Serialize())));
        return reply->GetRecoveryDataSet();
    }
    std::vector<Module::TaskLogRecord> NextTask(CProduct& product) {
        return Parse<Module::CGetTaskStatusResponse>(Factory().CreateGetTaskStatusResponse(),
                                                     Payload(product.Handle(Request(112))))
            ->GetTaskLogRecords();
    }

    CFakeArea area;
};

struct CommandCase {
    const char* name;
    std::function<Bytes()> build;
    bool maintenanceBefore;
    std::set<unsigned> bumps;
};

Bytes Enable() {
    auto task = Task<Host::QUILConnector::Task::CEnableFDEMaintenanceMode>();
    task->MutableEnableMaintenanceMode().set_seconds(60);
    return Factory().CreateEnableFDEMaintenanceModeRequest(task)->Serialize();
}

Bytes Activate() {
    auto task = Task<Host::Product::Task::CProductActivation>();
    task->SetManagedActivation("token");
    return Factory().CreateActivationRequest(task)->Serialize();
}

const CommandCase kCommands[] = {
    {"Activation", Activate, false, {4, 8}},
    {"Block",
     [] {
         return Factory()
             .CreateBlockFDEPasswordRequest(Task<Host::QUILConnector::CBlockFDELogin>())
             ->Serialize();
     },
     false,
     {8}},
    {"Invalidate",
     [] {
         return Factory()
             .CreateInvalidateFDEPasswordRequest(Task<Host::QUILConnector::CInvalidateFDELogin>())
             ->Serialize();
     },
     false,
     {8}},
    {"Wipe",
     [] {
         return Factory()
             .CreateWipeFDEPasswordRequest(Task<Host::QUILConnector::CWipeFDELogin>())
             ->Serialize();
     },
     false,
     {8}},
    {"EnableMaintenance", Enable, false, {2, 8}},
    {"EnableMaintenanceAgain", Enable, true, {8}},
    {"DisableMaintenance",
     [] {
         return Factory()
             .CreateDisableFDEMaintenanceModeRequest(
                 Task<Host::QUILConnector::Task::CDisableFDEMaintenanceMode>())
             ->Serialize();
     },
     true,
     {2, 8}},
};

class FinishedCommand : public ProductBehaviour, public testing::WithParamInterface<CommandCase> {};

TEST_P(FinishedCommand, QueuesOneResultWithTheTaskIdentifiersAndAnnouncesIt) {
    CProductState state = EmptyState();
    state.MaintenanceMode = GetParam().maintenanceBefore;
    CProduct product(state, area);
    EXPECT_EQ(0u, product.Handle(GetParam().build()).Status);
    EXPECT_EQ(GetParam().bumps, area.bumps);

    const auto records = NextTask(product);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(First, records[0].FirstId.uuid());
    EXPECT_EQ(Third, records[0].ThirdId.uuid());
    EXPECT_EQ(30u, records[0].State) << "finished";
    EXPECT_TRUE(NextTask(product).empty()) << "one result per command";
}

INSTANTIATE_TEST_SUITE_P(Commands, FinishedCommand, testing::ValuesIn(kCommands),
                         [](const testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

TEST_F(ProductBehaviour, ActivationAndMaintenanceShowInTheDocuments) {
    CProduct product(EmptyState(), area);
    product.Handle(Activate());
    product.Handle(Enable());
    const auto licences = Parse<Module::CGetLicenseResponse>(Factory().CreateGetLicenseResponse(),
                                                             Payload(product.Handle(Request(138))));
    ASSERT_EQ(1u, licences->GetLicenseRecords().size());
    EXPECT_TRUE(licences->GetLicenseRecords()[0].ActivatedBy);
    const auto status = Parse<Module::CGetStatusResponse>(Factory().CreateGetStatusResponse(),
                                                          Payload(product.Handle(Request(33))));
    ASSERT_EQ(1u, status->GetProtectionStatusRecords().size());
    EXPECT_EQ(CProduct::MaintenanceRecord().StatusResId, status->GetProtectionStatusRecords()[0].StatusResId);
}

TEST_F(ProductBehaviour, FailedCommandsReportTheConfiguredResult) {
    CProductState state = EmptyState();
    state.CommandResult = 7;
    CProduct product(state, area);
    product.Handle(Enable());
    const auto records = NextTask(product);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("Task failed", records[0].Message);
}

TEST_F(ProductBehaviour, RecoveryMaterialIsAnnouncedUntilConfirmed) {
    CProductState state = EmptyState();
    state.RecoveryReannounceSeconds = 60;
    CProduct product(state, area);
    product.AddRecovery({{"p1", "d0", "0", "s1"}, {"p2", "d0", "1", "s2"}}, {{"r1", "d0", "blob"}});
    EXPECT_EQ(std::set<unsigned>{9}, area.bumps);

    area.bumps.clear();
    product.Tick(CProduct::Clock::now() + std::chrono::seconds(61));
    EXPECT_EQ(std::set<unsigned>{9}, area.bumps) << "unconfirmed: announced again";

    Module::RecoveryDataSet confirmed;
    confirmed.RecoveryPasswords = {{"p1", "", "", ""}, {"unknown", "", "", ""}};
    confirmed.RecoveryData = {{"r1", "", ""}};
    EXPECT_EQ(
        0u,
        product.Handle(Factory().CreateConfirmEncryptionRecoveryDataRequest(confirmed)->Serialize()).Status);
    const Module::RecoveryDataSet left = Recovery(product);
    ASSERT_EQ(1u, left.RecoveryPasswords.size());
    EXPECT_EQ("p2", left.RecoveryPasswords[0].Uid);
    EXPECT_TRUE(left.RecoveryData.empty());

    confirmed.RecoveryPasswords = {{"p2", "", "", ""}};
    product.Handle(Factory().CreateConfirmEncryptionRecoveryDataRequest(confirmed)->Serialize());
    area.bumps.clear();
    product.Tick(CProduct::Clock::now() + std::chrono::seconds(3600));
    EXPECT_TRUE(area.bumps.empty()) << "nothing left to announce";
}

TEST_F(ProductBehaviour, ImportedPolicyIsWhatExportReturns) {
    CProduct product(CProductState::Default(), area);
    const std::string policy("<policy a=\"1\">\0</policy>", 24);
    EXPECT_EQ(0u, product.Handle(Factory().CreateImportConfigurationRequest(policy)->Serialize()).Status);
    EXPECT_EQ(policy, product.Handle(Request(110)).Body);
    EXPECT_EQ(policy, product.Snapshot().Policy);
}

TEST_F(ProductBehaviour, ControlChangesAnnounceThemselves) {
    CProduct product(EmptyState(), area);
    product.SetStatus({{2, 1, 2, std::nullopt}});
    product.SetLicences({});
    product.QueueTask({UserData, 1});
    EXPECT_EQ((std::set<unsigned>{2, 4, 8}), area.bumps);
    product.SetServerValue(77);
    EXPECT_EQ(77u, area.serverValue);
}

struct HostileCase {
    const char* name;
    Bytes payload;
    uint32_t status;
};

std::string Document(const std::string& inner) {
    return "<?xml version=\"1.0\"?><VELM><MESSAGE VERSION=\"1\">" + inner + "</MESSAGE></VELM>";
}

std::string Tagged(std::initializer_list<uint32_t> words, const std::string& tail = "") {
    Bytes bytes;
    for (uint32_t word : words) {
        PutWord(bytes, word);
    }
    return std::string(bytes.begin(), bytes.end()) + tail;
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<a>";
    }
    return text;
}

const HostileCase kHostile[] = {
    {"Empty", {}, 87},
    {"ShortHeader", Bytes(11, 12), 87},
    {"WrongHeaderSize", {16, 0, 0, 0, 0, 6, 0, 1, 33, 0, 0, 0}, 87},
    {"ForeignPlugin", {12, 0, 0, 0, 0, 7, 0, 1, 33, 0, 0, 0}, 87},
    {"UnknownCommand", Request(999), 50},
    {"NotXml", Request(2, "<VELM><MESSAGE>"), 87},
    {"NoRequestElement", Request(2, Document("")), 87},
    {"NoFunction", Request(2, Document("<REQUEST />")), 87},
    {"UnknownFunction", Request(2, Document("<REQUEST FUNCTION=\"FORMAT_DISK\" />")), 50},
    {"ForeignPluginAttribute", Request(2, Document("<REQUEST PLUGIN=\"1\" FUNCTION=\"ACTIVATION\" />")), 87},
    {"NoUserData",
     Request(2, Document("<REQUEST FUNCTION=\"WIPE_FDE_ENCRYPTION_PASSWORD\"><DATA /></REQUEST>")), 87},
    {"DuplicateNode",
     Request(
         2,
         Document(
             "<REQUEST FUNCTION=\"WIPE_FDE_ENCRYPTION_PASSWORD\"><DATA><NODE NAME=\"USERDATA\" VALUE=\"a\" />"
             "<NODE NAME=\"USERDATA\" VALUE=\"b\" /></DATA></REQUEST>")),
     87},
    {"NodeWithoutValue",
     Request(
         2,
         Document("<REQUEST FUNCTION=\"WIPE_FDE_ENCRYPTION_PASSWORD\"><DATA><NODE NAME=\"USERDATA\" /></DATA>"
                  "</REQUEST>")),
     87},
    {"LicenceNotBase64",
     Request(2, Document("<REQUEST FUNCTION=\"ACTIVATION\"><DATA><NODE NAME=\"LICENSE_FILE\" VALUE=\"%%\" />"
                         "<NODE NAME=\"USERDATA\" VALUE=\"a;b;c\" /></DATA></REQUEST>")),
     87},
    {"ActivationWithoutData",
     Request(2, Document(
                    "<REQUEST FUNCTION=\"ACTIVATION\"><DATA><NODE NAME=\"USERDATA\" VALUE=\"a;b;c\" /></DATA>"
                    "</REQUEST>")),
     87},
    {"MaintenanceWithoutLimit",
     Request(
         2,
         Document("<REQUEST FUNCTION=\"ENABLE_MAINTENANCE_MODE\"><DATA><NODE NAME=\"USERDATA\" VALUE=\"a\" />"
                  "</DATA></REQUEST>")),
     87},
    {"MaintenanceLimitNotANumber",
     Request(
         2,
         Document("<REQUEST FUNCTION=\"ENABLE_MAINTENANCE_MODE\"><DATA><NODE NAME=\"USERDATA\" VALUE=\"a\" />"
                  "<NODE NAME=\"SECONDS\" VALUE=\"1e9\" /></DATA></REQUEST>")),
     87},
    {"ConfirmWithoutUid",
     Request(2,
             Document("<REQUEST FUNCTION=\"CONFIRM_ENCRYPTION_RECOVERY_DATA\"><RECOVERY_DATA /></REQUEST>")),
     87},
    {"OpeningBrackets", Request(2, std::string(200000, '<')), 87},
    {"DeepNesting", Request(2, Nested(5000)), 87},
    {"TaggedItemCutShort", Request(154, Tagged({0x104, 4})), 87},
    {"TaggedItemLyingLength", Request(154, Tagged({0x100002, 0xFFFFFFF0}, "abc")), 87},
    {"NoAgentItem", Request(154, Tagged({0x104, 4, 3})), 87},
};

class HostileRequest : public ProductBehaviour, public testing::WithParamInterface<HostileCase> {};

TEST_P(HostileRequest, GetsAnErrorStatusAndChangesNothing) {
    CProduct product(CProductState::Default(), area);
    const CProductState before = product.Snapshot();
    const CProduct::Reply reply = product.Handle(GetParam().payload);
    EXPECT_EQ(GetParam().status, reply.Status);
    EXPECT_TRUE(area.bumps.empty());
    EXPECT_EQ(before.ToJson(false), product.Snapshot().ToJson(false));
}

INSTANTIATE_TEST_SUITE_P(Requests, HostileRequest, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST(ProductStateFile, EveryErrorIsListedAtOnce) {
    const char* const text = R"({"Status":[{"Status":5},{"Status":0}],"ServerValue":18446744073709551616,
        "TaskResults":[{"UserData":"<id1>;<id2>;<id3>"}],"Policy":1,"Policy":2,"Colour":1})";
    try {
        CProductState::FromJson(text);
        FAIL() << "accepted";
    } catch (const CJsonError& e) {
        const std::string errors = e.what();
        for (const char* expected :
             {"ServerValue: 18446744073709551616 is out of range\n", "Policy: given more than once\n",
              "Status[0].Status: must be 0, 1, 2",
              "Status[1].Status: CategoryResId and StatusResId are required",
              "TaskResults[0].UserData: must be three UUIDs", "Colour: unknown field"}) {
            EXPECT_NE(std::string::npos, errors.find(expected)) << errors;
        }
    }
}

TEST(ProductStateFile, DefaultSurvivesTheRoundTrip) {
    const CProductState state = CProductState::Default();
    EXPECT_EQ(state.ToJson(false), CProductState::FromJson(state.ToJson(false)).ToJson(false));
    EXPECT_EQ(std::string::npos, state.ToJson(true).find(state.RecoveryPasswords[0].Secret)) << "masked";
}

TEST(ProductStateFile, BadFilesNameTheirFault) {
    const std::pair<const char*, const char*> cases[] = {
        {"[]", "document: expected an object"},
        {"{", "not valid JSON"},
        {R"({"Colour":1})", "Colour: unknown field"},
        {R"({"Status":{}})", "Status: expected an array"},
        {R"({"Status":[{"Status":3,"CategoryResId":1,"StatusResId":1}]})",
         "Status[0].Status: must be 0, 1, 2"},
        {R"({"Status":[{"Status":1}]})", "Status[0].Status: CategoryResId and StatusResId are required"},
        {R"({"Status":[{"Status":"0xFFFFFFFF","CategoryResId":-1}]})",
         "Status[0].CategoryResId: -1 is out of range"},
        {R"({"Status":[{"Status":"zero"}]})", "Status[0].Status: \"zero\" is not an integer"},
        {R"({"Licenses":[{"AssociatedSeatId":"s","LicensePublicId":"p"}]})",
         "Licenses[0].LicenseProductName: missing"},
        {R"({"Licenses":[{"AssociatedSeatId":"s","LicensePublicId":"p","LicenseProductName":"n","ActivatedByZun":1}]})",
         "Licenses[0].ActivatedByZun: expected true or false"},
        {R"({"Licenses":[{"AssociatedSeatId":"s","LicensePublicId":"p","LicenseProductName":"n",
            "LicenseExpirationDate":4102444800}]})",
         "Licenses[0].LicenseExpirationDate: 4102444800 is out of range"},
        {R"({"TaskResults":[{"UserData":"a\u0000b"}]})", "TaskResults[0].UserData: must not contain a zero"},
        {R"({"RecoveryData":[{"Uid":"u","DeviceId":"d","ValueBase64":"%%"}]})",
         "RecoveryData[0].ValueBase64: not valid Base64"},
        {R"({"ServerValue":4294967296})", "ServerValue: 4294967296 is out of range"},
        {R"({"ServerValue":1.5})", "ServerValue: expected an integer"},
        // Every fault of a record, not only its first; a Uid names one record only.
        {R"({"Licenses":[{"AssociatedSeatId":1,"LicensePublicId":"p","LicenseProductName":"n","Flag":1}]})",
         "Licenses[0].AssociatedSeatId: expected a string\nLicenses[0].Flag: unknown field"},
        {R"({"RecoveryPasswords":[{"Uid":"u","DeviceId":2,"Index":"0"}]})",
         "RecoveryPasswords[0].DeviceId: expected a string\nRecoveryPasswords[0].Value: missing"},
        {R"({"RecoveryPasswords":[{"Uid":"u","DeviceId":"d","Index":"0","Value":"1"},
            {"Uid":"v","DeviceId":"d","Index":"1","Value":"2"},{"Uid":"u","DeviceId":"d","Index":"2","Value":"3"}]})",
         "RecoveryPasswords[2].Uid: 'u' is given again (first at RecoveryPasswords[0])"},
        {R"({"RecoveryData":[{"Uid":"r","DeviceId":"d","Value":"1"},{"Uid":"r","DeviceId":"d","Value":"2"}]})",
         "RecoveryData[1].Uid: 'r' is given again (first at RecoveryData[0])"},
    };
    for (const auto& c : cases) {
        try {
            CProductState::FromJson(c.first);
            ADD_FAILURE() << "accepted " << c.first;
        } catch (const CJsonError& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.second)) << e.what();
        }
    }
}

}  // namespace
