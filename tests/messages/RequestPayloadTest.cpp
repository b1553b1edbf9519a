#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <functional>

#include "core/CLocalizedException.h"
#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CWipeFDELogin.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "tests/messages/ReplyPayload.h"

using namespace MessagesTest;
using Zun::Connectors::Common::IChannelMessageFactory;
using Zun::Connectors::Common::RecoveryDataSet;
using Zun::Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory;
namespace Host = Zun::Common::Message::Connectors;

namespace {

typedef IChannelMessageFactory::MessagePtr MessagePtr;
typedef const IChannelMessageFactory& Factory;
typedef Host::QUILConnector::Task::CEnableFDEMaintenanceMode::Data Limits;

const std::string Ids =
    "a1a1a1a1-0000-4000-8000-000000000001;b2b2b2b2-0000-4000-8000-000000000002;"
    "c3c3c3c3-0000-4000-8000-000000000003";

template <typename T>
boost::shared_ptr<T> Task() {
    auto task = boost::make_shared<T>();
    task->SetTaskIdentifiers(Ids.substr(0, 36), Ids.substr(37, 36), Ids.substr(74));
    return task;
}

MessagePtr Activate(Factory f, const std::string& licence, const std::string& managed) {
    auto task = Task<Host::Product::Task::CProductActivation>();
    task->SetLicenseFile(licence);
    task->SetManagedActivation(managed);
    return f.CreateActivationRequest(task);
}

MessagePtr Enable(Factory f, const Limits& limits) {
    auto task = Task<Host::QUILConnector::Task::CEnableFDEMaintenanceMode>();
    task->MutableEnableMaintenanceMode() = limits;
    return f.CreateEnableFDEMaintenanceModeRequest(task);
}

Limits Date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    Limits limits;
    auto* date = limits.mutable_fixeddate();
    date->set_year(year);
    date->set_month(month);
    date->set_day(day);
    date->set_hour(hour);
    date->set_minute(minute);
    date->set_second(second);
    return limits;
}

Limits Counted(int64_t boots, int64_t seconds) {
    Limits limits = Date(2020, 2, 29, 12);
    limits.set_bootcycles(static_cast<uint32_t>(boots));
    limits.set_seconds(static_cast<uint32_t>(seconds));
    return limits;
}

// The documented layout, written out independently of the code under test.
std::string Node(const std::string& name, const std::string& type, const std::string& value) {
    return "<NODE NAME=\"" + name + "\" TYPE=\"" + type + "\" VALUE=\"" + value + "\" />";
}

const std::string UserData = Node("USERDATA", "STRING", Ids);
const std::string Opening = "<?xml version=\"1.0\" encoding=\"utf-8\"?><VELM><MESSAGE VERSION=\"1\">";

Bytes TaskDocument(const std::string& function, const std::string& nodes) {
    return Request(2, Opening + "<REQUEST FUNCTION=\"" + function + "\"><DATA>" + UserData + nodes +
                          "</DATA></REQUEST></MESSAGE></VELM>");
}

Bytes ActivationDocument(const std::string& node) {
    return Request(2, Opening + "<REQUEST PLUGIN=\"1000600\" FUNCTION=\"ACTIVATION\"><DATA>" + node +
                          UserData + "</DATA></REQUEST></MESSAGE></VELM>");
}

Bytes PlainDocument(const std::string& function, const std::string& elements) {
    return Request(
        2, Opening + "<REQUEST FUNCTION=\"" + function + "\">" + elements + "</REQUEST></MESSAGE></VELM>");
}

std::string TaggedItems(const std::string& id) {
    Bytes items;
    for (uint32_t word : {0x104u, 4u, 3u, 0x100002u, static_cast<uint32_t>(id.size() + 1)}) {
        PutUInt32(items, word);
    }
    return Text(items) + id + '\0';
}

RecoveryDataSet Confirmed() {
    RecoveryDataSet set;
    set.RecoveryPasswords = {{"p1", "disk0", "0", "secret"}, {"p\"2", "disk1", "1", "secret"}};
    set.RecoveryData = {{"d1", "disk0", "secret"}};
    return set;
}

const std::string AgentId = "0f0e0d0c-0b0a-4908-8706-050403020100";

struct PayloadCase {
    const char* name;
    std::function<MessagePtr(Factory)> create;
    Bytes expected;
};

class RequestPayloadTest : public testing::TestWithParam<PayloadCase> {};

TEST_P(RequestPayloadTest, BytesMatchTheLayoutAndRequestsNeverParse) {
    const MessagePtr request = GetParam().create(CPixlinkMessageFactory());
    EXPECT_EQ(Text(GetParam().expected), Text(request->Serialize()));
    EXPECT_EQ("Standard implemtation of deserialization in channel request is not implemented",
              FailureText<std::runtime_error>([&] { request->Deserialize(Reply("")); }));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestPayloadTest,
    testing::Values(
        PayloadCase{"GetStatus", [](Factory f) { return f.CreateGetStatusRequest(); },
                    Bytes{0x0C, 0, 0, 0, 0x00, 0x06, 0x00, 0x01, 0x21, 0, 0, 0}},
        PayloadCase{"GetLicense", [](Factory f) { return f.CreateGetLicenseRequest(); }, Request(138)},
        PayloadCase{"GetTaskStatus", [](Factory f) { return f.CreateGetTaskStatusRequest(); }, Request(112)},
        PayloadCase{"Export", [](Factory f) { return f.CreateExportConfigurationRequest(); }, Request(110)},
        PayloadCase{"ImportNothing", [](Factory f) { return f.CreateImportConfigurationRequest(""); },
                    Request(109)},
        PayloadCase{"ImportAsIs",
                    [](Factory f) {
                        return f.CreateImportConfigurationRequest({"<a>\0\xff", 5});
                    },
                    Request(109, {"<a>\0\xff", 5})},
        PayloadCase{"AgentUUID", [](Factory f) { return f.CreateSendAgentUUIDRequest(AgentId); },
                    Request(154, TaggedItems(AgentId))},
        PayloadCase{"EmptyAgentUUID", [](Factory f) { return f.CreateSendAgentUUIDRequest(""); },
                    Request(154, TaggedItems(""))},
        PayloadCase{"Block",
                    [](Factory f) {
                        return f.CreateBlockFDEPasswordRequest(Task<Host::QUILConnector::CBlockFDELogin>());
                    },
                    TaskDocument("BLOCK_FDE_ENCRYPTION_PASSWORD", "")},
        PayloadCase{"Invalidate",
                    [](Factory f) {
                        return f.CreateInvalidateFDEPasswordRequest(
                            Task<Host::QUILConnector::CInvalidateFDELogin>());
                    },
                    TaskDocument("INVALIDATE_FDE_ENCRYPTION_PASSWORD", "")},
        PayloadCase{"Wipe",
                    [](Factory f) {
                        return f.CreateWipeFDEPasswordRequest(Task<Host::QUILConnector::CWipeFDELogin>());
                    },
                    TaskDocument("WIPE_FDE_ENCRYPTION_PASSWORD", "")},
        PayloadCase{"Disable",
                    [](Factory f) {
                        return f.CreateDisableFDEMaintenanceModeRequest(
                            Task<Host::QUILConnector::Task::CDisableFDEMaintenanceMode>());
                    },
                    TaskDocument("DISABLE_MAINTENANCE_MODE", "")},
        PayloadCase{"EnableForSeconds",
                    [](Factory f) {
                        Limits limits;
                        limits.set_seconds(3600);
                        return Enable(f, limits);
                    },
                    TaskDocument("ENABLE_MAINTENANCE_MODE", Node("SECONDS", "STRING", "3600"))},
        PayloadCase{"EnableWithEveryLimit", [](Factory f) { return Enable(f, Counted(4294967295, 0)); },
                    TaskDocument("ENABLE_MAINTENANCE_MODE", Node("BOOTS", "STRING", "4294967295") +
                                                                Node("SECONDS", "STRING", "0") +
                                                                Node("TIME", "STRING", "1582977600"))},
        PayloadCase{"LicenceFileWinsOverManaged",
                    [](Factory f) {
                        return Activate(f, {"lic\0\xfb\xff", 6}, "managed");
                    },
                    ActivationDocument(Node("LICENSE_FILE", "BINARY", "bGljAPv/"))},
        PayloadCase{"ManagedUnescaped", [](Factory f) { return Activate(f, "", "a<b&\"c"); },
                    ActivationDocument(Node("MANAGED_ACTIVATION", "STRING", "a<b&\"c"))},
        PayloadCase{"GetRecoveryData", [](Factory f) { return f.CreateGetEncryptionRecoveryDataRequest(); },
                    PlainDocument("GET_ENCRYPTION_RECOVERY_DATA", "")},
        PayloadCase{"ConfirmNothing",
                    [](Factory f) { return f.CreateConfirmEncryptionRecoveryDataRequest(RecoveryDataSet()); },
                    PlainDocument("CONFIRM_ENCRYPTION_RECOVERY_DATA", "")},
        PayloadCase{"ConfirmUidsOnly",
                    [](Factory f) { return f.CreateConfirmEncryptionRecoveryDataRequest(Confirmed()); },
                    PlainDocument("CONFIRM_ENCRYPTION_RECOVERY_DATA",
                                  "<RECOVERY_PASSWORD UID=\"p1\" /><RECOVERY_PASSWORD UID=\"p\"2\" />"
                                  "<RECOVERY_DATA UID=\"d1\" />")}),
    [](const testing::TestParamInfo<PayloadCase>& info) { return std::string(info.param.name); });

TEST(RequestPayloadTest, AgentUuidOf36CharactersIs69Bytes) {
    EXPECT_EQ(69u, CPixlinkMessageFactory().CreateSendAgentUUIDRequest(AgentId)->Serialize().size());
}

TEST(RequestPayloadTest, FixedDateIsSecondsSince1970WithUncheckedTimeOfDay) {
    const std::pair<Limits, const char*> cases[] = {
        {Date(2020, 2, 29, 12), "1582977600"},
        {Date(1970, 1, 1), "0"},
        {Date(1969, 12, 31, 23, 59, 59), "-1"},
        {Date(1400, 1, 1), "-17987443200"},
        {Date(9999, 12, 31, 23, 59, 59), "253402300799"},
        {Date(2020, 2, 29, 25, 61, 61), "1583028121"},
        {Date(1970, 1, 1, 0, -1), "-60"},
    };
    for (const auto& c : cases) {
        const std::string document = Text(Enable(CPixlinkMessageFactory(), c.first)->Serialize());
        EXPECT_NE(std::string::npos, document.find(Node("TIME", "STRING", c.second) + "</DATA>")) << c.second;
    }
}

TEST(RequestPayloadTest, ImpossibleFixedDatesFailWithTheDateLibraryTexts) {
    const char* const day = "Day of month value is out of range 1..31";
    const char* const month = "Month number is out of range 1..12";
    const char* const year = "Year is out of valid range: 1400..9999";
    const char* const forYear = "Day of month is not valid for year";
    const std::pair<Limits, const char*> cases[] = {
        {Date(2021, 2, 29), forYear}, {Date(2100, 2, 29), forYear}, {Date(2020, 4, 31), forYear},
        {Date(2020, 1, 0), day},      {Date(2020, 1, 32), day},     {Date(2020, 1, 65537), day},
        {Date(2020, 1, -1), day},     {Date(2020, 0, 1), month},    {Date(2020, 13, 1), month},
        {Date(1399, 12, 31), year},   {Date(10000, 1, 1), year},    {Date(65536 + 2020, 1, 1), year},
        {Date(0, 0, 0), day},         {Date(0, 0, 1), month},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, FailureText<std::out_of_range>(
                                [&] { Enable(CPixlinkMessageFactory(), c.first)->Serialize(); }));
    }
}

TEST(RequestPayloadTest, MissingDataFails) {
    CPixlinkMessageFactory f;
    EXPECT_EQ("CEnableFDEMaintenanceModeRequest: Invalid configuration",
              FailureText<std::runtime_error>([&] { Enable(f, Limits())->Serialize(); }));
    EXPECT_EQ(
        "CActivationRequest: No activation data was set",
        FailureText<Zun::Common::Module::CLocalizedException>([&] { Activate(f, "", "")->Serialize(); }));
}

TEST(RequestPayloadTest, RequestKeepsItsTaskMessageAlive) {
    auto task = Task<Host::QUILConnector::CWipeFDELogin>();
    const boost::weak_ptr<Host::QUILConnector::CWipeFDELogin> watched = task;
    MessagePtr request = CPixlinkMessageFactory().CreateWipeFDEPasswordRequest(task);
    task.reset();
    EXPECT_FALSE(watched.expired());
    request.reset();
    EXPECT_TRUE(watched.expired());
}

}  // namespace
