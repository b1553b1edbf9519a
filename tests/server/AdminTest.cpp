#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>

#include "server/admin/CAdminClient.h"
#include "server/admin/CAdminCommands.h"
#include "server/admin/CAdminServer.h"
#include "tests/server/CPostgresCluster.h"
#include "tests/server/CTestDatabase.h"
#include "tests/support/CForeignUser.h"

namespace Zun {
namespace Server {
namespace {

using Poco::JSON::Object;
using quil::link::v1::RecoveryItem;
using quil::link::v1::StoredRow;
using Testing::CForeignUser;
using Testing::CTestDatabase;
using ::testing::HasSubstr;

const std::string kComputer = "pc-1";
const std::string kTaskId = "6f1c2a9e-3b7d-4c5e-8a10-2b3c4d5e6f70";
const uint32_t kTaskResult = 10368;

Object::Ptr Parse(const std::string& line) {
    Poco::JSON::Parser parser;
    return parser.parse(line).extract<Object::Ptr>();
}

StoredRow Row(int64_t sequence, uint32_t type, const std::string& content) {
    StoredRow row;
    row.set_sequence(sequence);
    row.set_time("2026-12-06T10:00:0" + std::to_string(sequence) + ".000Z");
    row.set_type(type);
    row.set_class_name("CEventLog");
    row.set_description("row");
    row.set_user_context("test");
    row.set_content(content);
    return row;
}

StoredRow Recovery(int64_t sequence) {
    StoredRow row = Row(sequence, CFleetService::kRecoveryRequest, "{}");
    RecoveryItem* item = row.add_recovery_items();
    item->set_kind(RecoveryItem::PASSWORD);
    item->set_internal_id("pw-1");
    item->set_device_id("disk-0");
    item->set_index("1");
    item->set_secret("111111-222222");
    return row;
}

std::string ResultEvent(const std::string& task, int state) {
    return "{\"rows\":[[{\"id\":2842,\"name\":\"first\",\"type\":\"uuid\",\"value\":\"" + task +
           "\"},{\"id\":2850,\"name\":\"state\",\"type\":\"int\",\"value\":" + std::to_string(state) + "}]]}";
}

class AdminCommandsTest : public ::testing::TestWithParam<CTestDatabase::Engine> {
protected:
    void SetUp() override {
        if (GetParam() == CTestDatabase::Engine::PostgreSQL && !Testing::CPostgresCluster::IsAvailable()) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        m_database.reset(new CTestDatabase(GetParam()));
        m_service.reset(new CFleetService(
            m_database->Store(), m_sealer, [](const std::string&) { return true; },
            [](int, const std::string&) {}));
        m_commands.reset(new CAdminCommands(m_database->Store(), *m_service));
        quil::link::v1::Hello hello;
        m_service->Connected(kComputer, "01", hello, [] {});
    }

    Object::Ptr Ask(const std::string& request) {
        return Parse(m_commands->Handle(request, {1000, "alice"}));
    }

    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, 'k')};
    std::unique_ptr<CTestDatabase> m_database;
    std::unique_ptr<CFleetService> m_service;
    std::unique_ptr<CAdminCommands> m_commands;
};

TEST_P(AdminCommandsTest, RevealPrintsThePasswordAndAuditsWhoAndWhy) {
    m_service->Commit(kComputer, {Recovery(1)});
    const Object::Ptr refused = Ask("{\"command\":\"reveal\",\"name\":\"pc-1\"}");
    EXPECT_FALSE(refused->getValue<bool>("ok"));
    EXPECT_THAT(refused->getValue<std::string>("error"), HasSubstr("reason"));

    const Object::Ptr answer = Ask("{\"command\":\"reveal\",\"name\":\"pc-1\",\"reason\":\"locked out\"}");
    ASSERT_TRUE(answer->getValue<bool>("ok"));
    EXPECT_EQ(answer->getArray("passwords")->getObject(0)->getValue<std::string>("recovery_password"),
              "111111-222222");
    const Object::Ptr audit = Ask("{\"command\":\"audit\"}")->getArray("audit")->getObject(0);
    EXPECT_EQ(audit->getValue<std::string>("who"), "alice");
    EXPECT_EQ(audit->getValue<int>("uid"), 1000);
    EXPECT_EQ(audit->getValue<std::string>("reason"), "locked out");
    EXPECT_EQ(Ask("{\"command\":\"audit\"}")->getArray("audit")->size(), 1u);
}

TEST_P(AdminCommandsTest, TaskIsCheckedGivenIdsAndItsResultsAreListed) {
    struct Case {
        std::string request;
        std::string error;  // empty: queued
    };
    const std::vector<Case> cases = {
        {"{\"command\":\"task\",\"name\":\"pc-1\",\"line\":\"{\\\"task\\\":\\\"maintenance-on\\\"}\"}",
         "window"},
        {"{\"command\":\"task\",\"name\":\"pc-9\",\"line\":\"{\\\"task\\\":\\\"block-password\\\"}\"}",
         "pc-9"},
        {"{\"command\":\"task\",\"name\":\"pc-1\",\"line\":\"{\\\"task\\\":\\\"recovery-response\\\","
         "\\\"passwords\\\":[\\\"x\\\"]}\"}",
         "server's own"},
        {"{\"command\":\"task\",\"line\":\"{\\\"task\\\":\\\"block-password\\\"}\"}", "name"},
        {"{\"command\":\"task\",\"name\":\"pc-1\",\"line\":\"{\\\"task\\\":\\\"block-password\\\"}\"}", ""},
    };
    for (const Case& c : cases) {
        const Object::Ptr answer = Ask(c.request);
        if (c.error.empty()) {
            ASSERT_TRUE(answer->getValue<bool>("ok")) << c.request;
            EXPECT_THAT(answer->getValue<std::string>("line"), HasSubstr("\"ids\":["));
        } else {
            EXPECT_FALSE(answer->getValue<bool>("ok")) << c.request;
            EXPECT_THAT(answer->getValue<std::string>("error"), HasSubstr(c.error)) << c.request;
        }
    }
    const auto deliveries = m_service->TakeDeliveries(kComputer);
    ASSERT_EQ(deliveries.size(), 1u);
    const std::string first = Parse(deliveries[0].line)->getArray("ids")->getElement<std::string>(0);
    m_service->Commit(kComputer, {Row(1, kTaskResult, ResultEvent(first, 30)),
                                  Row(2, kTaskResult, ResultEvent(kTaskId, 40))});
    const Object::Ptr task = Ask("{\"command\":\"tasks\"}")->getArray("tasks")->getObject(0);
    EXPECT_EQ(task->getValue<std::string>("state"), "taken");
    EXPECT_EQ(task->getArray("results")->size(), 1u) << "only the result of this task's ids";
}

TEST_P(AdminCommandsTest, HostsAndHostShowTheFleetWithoutSecrets) {
    m_service->Commit(kComputer, {Recovery(1)});
    const std::string hosts = m_commands->Handle("{\"command\":\"hosts\"}", {0, "root"});
    EXPECT_THAT(hosts, HasSubstr("\"name\":\"pc-1\""));
    const std::string host = m_commands->Handle("{\"command\":\"host\",\"name\":\"pc-1\"}", {0, "root"});
    EXPECT_THAT(host, HasSubstr("\"state\":\"escrowed\""));
    EXPECT_EQ(host.find("111111"), std::string::npos);
    EXPECT_THAT(m_commands->Handle("{\"command\":\"host\",\"name\":\"pc-9\"}", {0, "root"}),
                HasSubstr("\"ok\":false"));
    for (const char* bad : {"[1]", "{", "{\"command\":\"drop\"}", "{\"command\":7}"}) {
        EXPECT_THAT(m_commands->Handle(bad, {0, "root"}), HasSubstr("\"ok\":false")) << bad;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminCommandsTest,
                         ::testing::Values(CTestDatabase::Engine::SQLite, CTestDatabase::Engine::PostgreSQL),
                         CTestDatabase::Name);

TEST(AdminServerTest, PeersAreRootTheServersUserOrMembersOfTheSocketsGroup) {
    const gid_t group = 4242;
    EXPECT_TRUE(CAdminServer::MayUse(0, {}, group));
    EXPECT_TRUE(CAdminServer::MayUse(geteuid(), {}, group));
    EXPECT_TRUE(CAdminServer::MayUse(geteuid() + 1000, {1, group}, group));
    EXPECT_FALSE(CAdminServer::MayUse(geteuid() + 1000, {1, 2}, group));
}

class AdminSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quil-admin-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        chmod(m_folder.c_str(), 0755);
        m_path = m_folder + "/admin.sock";
    }
    void TearDown() override {
        m_server.reset();
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    void Serve(gid_t group) {
        m_server.reset(new CAdminServer(
            m_path,
            [](const std::string&, const CAdminCommands::Peer& peer) {
                return "{\"ok\":true,\"user\":\"" + peer.user + "\",\"uid\":" + std::to_string(peer.uid) +
                       "}";
            },
            [](int, const std::string&) {}, group));
        m_server->Start();
    }

    std::string m_folder;
    std::string m_path;
    std::unique_ptr<CAdminServer> m_server;
};

TEST_F(AdminSocketTest, SocketIsOwnerAndGroupOnlyAndNamesThePeer) {
    Serve(static_cast<gid_t>(-1));
    struct stat info;
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0660u);
    const Object::Ptr answer = Parse(CAdminClient(m_path).Request("{\"command\":\"hosts\"}"));
    EXPECT_EQ(answer->getValue<Poco::Int64>("uid"), static_cast<Poco::Int64>(geteuid()));
    EXPECT_THROW(CAdminServer(m_path, nullptr, nullptr).Start(), std::runtime_error) << "served already";
}

TEST_F(AdminSocketTest, OthersAreRefusedByTheKernelsRecordEvenWhenTheModeLetsThemIn) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root to play other users";
    }
    Serve(CForeignUser::kVictim);  // the victim's own group: a member
    // A mode opened up by mistake must not open the server.
    ASSERT_EQ(chmod(m_path.c_str(), 0666), 0);
    const auto ask = [this] {
        try {
            const std::string answer = CAdminClient(m_path).Request("{\"command\":\"hosts\"}");
            return answer.find("\"ok\":true") != std::string::npos ? 0 : 1;
        } catch (const std::exception&) {
            return 2;
        }
    };
    EXPECT_EQ(CForeignUser::Run(CForeignUser::kNobody, ask), 1) << "nobody is refused with an answer";
    EXPECT_EQ(CForeignUser::Run(CForeignUser::kVictim, ask), 0) << "a member of the group is served";
    ASSERT_EQ(chmod(m_path.c_str(), 0660), 0);
    EXPECT_EQ(CForeignUser::Run(CForeignUser::kNobody, ask), 2) << "the mode keeps others out first";
}

}  // namespace
}  // namespace Server
}  // namespace Zun
