// Two quil-server processes on one PostgreSQL database serve one fleet: a task queued through one
// reaches an agent linked to the other, an agent that moves on resumes from what was committed, and
// the reveals of both land in the one audit.
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <fstream>
#include <memory>
#include <sstream>

#include "server/admin/CCertificateAuthority.h"
#include "server/api/link.grpc.pb.h"
#include "tests/server/CPostgresCluster.h"
#include "tools/demo/CChildProcess.h"

namespace {

using namespace Zun::Tools::Demo;
using quil::link::v1::AgentMessage;
using quil::link::v1::ServerMessage;

const std::chrono::seconds kDeadline(30);
const char kComputer[] = "pc-1";
const char kSecret[] = "multi-server-314159-265358";
const uint32_t kRecoveryRequest = 728;
const uint32_t kProtectionStatus = 10044;

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The n-th PEM block of the bundle that begins with `marker`.
std::string PemBlock(const std::string& text, const std::string& marker, int n) {
    std::size_t at = 0;
    for (int i = 0; i <= n; ++i) {
        at = text.find("-----BEGIN " + marker, i == 0 ? 0 : at + 1);
    }
    const std::string end = "-----END " + marker + "-----";
    return text.substr(at, text.find(end, at) + end.size() - at) + "\n";
}

Poco::JSON::Object::Ptr Parse(const std::string& json) {
    Poco::JSON::Parser parser;
    return parser.parse(json).extract<Poco::JSON::Object::Ptr>();
}

// One stream of a computer, as its agent holds it: blocking calls, all under one deadline.
class CTestLink {
public:
    CTestLink(const std::string& address, const std::string& bundle) {
        const std::string pem = Slurp(bundle);
        grpc::SslCredentialsOptions tls;
        tls.pem_private_key = PemBlock(pem, "PRIVATE KEY", 0);
        tls.pem_cert_chain = PemBlock(pem, "CERTIFICATE", 0);
        tls.pem_root_certs = PemBlock(pem, "CERTIFICATE", 1);
        m_stub = quil::link::v1::AgentLink::NewStub(grpc::CreateChannel(address, grpc::SslCredentials(tls)));
        m_context.set_deadline(std::chrono::system_clock::now() + kDeadline);
        m_stream = m_stub->Connect(&m_context);
    }

    // Hello; returns the committed_through of the Welcome, -1 without one.
    int64_t Greet() {
        AgentMessage hello;
        hello.mutable_hello()->set_agent_version("test");
        ServerMessage welcome;
        if (!m_stream->Write(hello) || !m_stream->Read(&welcome) || !welcome.has_welcome()) {
            return -1;
        }
        return welcome.welcome().committed_through();
    }

    void SendRow(int64_t sequence, uint32_t type, const std::string& secret = "") {
        AgentMessage message;
        quil::link::v1::StoredRow* row = message.mutable_row();
        row->set_sequence(sequence);
        row->set_time("2026-12-06T12:00:00.000Z");
        row->set_type(type);
        row->set_content("{}");
        if (!secret.empty()) {
            quil::link::v1::RecoveryItem* item = row->add_recovery_items();
            item->set_kind(quil::link::v1::RecoveryItem::PASSWORD);
            item->set_internal_id("rp-1");
            item->set_device_id("disk-0");
            item->set_index("0");
            item->set_secret(secret);
        }
        ASSERT_TRUE(m_stream->Write(message));
    }

    // Reads until an Ack of at least `sequence`, answering tasks on the way; false when the stream ended.
    bool WaitForAck(int64_t sequence) {
        return ReadUntil(
            [&](const ServerMessage& m) { return m.has_ack() && m.ack().committed_through() >= sequence; });
    }

    // Reads until a task whose line holds `text`, answering every task; its id, 0 when none came.
    int64_t WaitForTask(const std::string& text) {
        int64_t id = 0;
        ReadUntil([&](const ServerMessage& m) {
            id = m.has_task() && m.task().line().find(text) != std::string::npos ? m.task().id() : 0;
            return id != 0;
        });
        return id;
    }

    void Close() {
        m_stream->WritesDone();
        m_context.TryCancel();
        m_stream->Finish();
    }

private:
    bool ReadUntil(const std::function<bool(const ServerMessage&)>& wanted) {
        ServerMessage message;
        while (m_stream->Read(&message)) {
            if (message.has_task()) {
                AgentMessage answer;
                answer.mutable_task_answer()->set_id(message.task().id());
                answer.mutable_task_answer()->set_ok(true);
                answer.mutable_task_answer()->set_answer("{\"ok\":true,\"sequence\":0}");
                m_stream->Write(answer);
            }
            if (wanted(message)) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<quil::link::v1::AgentLink::Stub> m_stub;
    grpc::ClientContext m_context;
    std::unique_ptr<grpc::ClientReaderWriter<AgentMessage, ServerMessage>> m_stream;
};

// One state folder (CA and sealing key) shared by two servers, each with its own port, admin
// socket and log, on one database of a cluster of the test's own.
class FleetServersTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Zun::Testing::CPostgresCluster::IsAvailable()) {
            s_cluster = new Zun::Testing::CPostgresCluster;
        }
    }
    static void TearDownTestSuite() {
        delete s_cluster;
        s_cluster = nullptr;
    }

    void SetUp() override {
        if (s_cluster == nullptr) {
            GTEST_SKIP() << "PostgreSQL's server binaries are not installed";
        }
        char pattern[] = "/tmp/quil-servers-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        const std::string state = m_folder + "/state";
        mkdir(state.c_str(), 0700);
        Zun::Server::CCertificateAuthority authority(state + "/ca");
        authority.Init({});
        m_bundle = m_folder + "/pc-1.bundle";
        authority.Enrol(kComputer, m_bundle, 1);
        const std::string database = s_cluster->NewDatabase();
        for (const char* name : {"a", "b"}) {
            const std::string config = m_folder + "/" + name + ".conf";
            std::ofstream(config) << "state-folder = " << state << "\n"
                                  << "database = " << database << "\n"
                                  << "listen = 127.0.0.1:0\n"
                                  << "admin-socket = " << m_folder << "/" << name << ".sock\n"
                                  << "log-file = " << m_folder << "/" << name << ".log\n";
            m_configs.push_back(config);
        }
        // One after the other: the first makes the sealing key that both use.
        StartServer(0);
        StartServer(1);
    }

    void TearDown() override {
        m_servers.clear();
        if (!m_folder.empty()) {
            std::system(("rm -rf '" + m_folder + "'").c_str());
        }
    }

    void StartServer(int which) {
        m_servers.emplace_back(new CChildProcess({QUIL_SERVER_PATH, "run", "--config", m_configs[which]}));
        CChildProcess* server = m_servers.back().get();
        const std::string opening = "listening for agents on ";
        ASSERT_TRUE(CChildProcess::WaitUntil(
            {server}, [&] { return server->Errors().find(opening) != std::string::npos; }, After(kDeadline)))
            << server->Errors();
        const std::size_t at = server->Errors().find(opening) + opening.size();
        m_addresses.push_back(server->Errors().substr(at, server->Errors().find_first_of(" \n", at) - at));
    }

    // An administrator's command through the server's socket; its output.
    std::string Admin(int which, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUIL_SERVER_PATH);
        arguments.insert(arguments.end(), {"--config", m_configs[which]});
        std::string output;
        EXPECT_EQ(0, CChildProcess::Run(arguments, output, After(kDeadline))) << output;
        return output;
    }

    Poco::JSON::Object::Ptr Host(int which) {
        return Parse(Admin(which, {"host", kComputer, "--json"}))->getObject("host");
    }

    bool WaitForLog(int which, const std::string& text) {
        CChildProcess* server = m_servers[which].get();
        return CChildProcess::WaitUntil(
            {server}, [&] { return server->Errors().find(text) != std::string::npos; }, After(kDeadline));
    }

    static Zun::Testing::CPostgresCluster* s_cluster;
    std::string m_folder;
    std::string m_bundle;
    std::vector<std::string> m_configs;
    std::vector<std::string> m_addresses;
    std::vector<std::unique_ptr<CChildProcess>> m_servers;
};

Zun::Testing::CPostgresCluster* FleetServersTest::s_cluster = nullptr;

TEST_F(FleetServersTest, ATaskQueuedThroughOneServerReachesTheAgentOfTheOther) {
    CTestLink link(m_addresses[0], m_bundle);
    ASSERT_EQ(link.Greet(), 0);
    link.SendRow(1, kProtectionStatus);
    ASSERT_TRUE(link.WaitForAck(1));

    Admin(1, {"task", kComputer, R"({"task":"query","kind":1})"});
    EXPECT_NE(link.WaitForTask("\"kind\":1"), 0) << "a task queued through the other server never came";
    link.Close();
}

TEST_F(FleetServersTest, AnAgentThatMovesResumesFromWhatWasCommittedAndStaysConnected) {
    CTestLink first(m_addresses[0], m_bundle);
    ASSERT_EQ(first.Greet(), 0);
    first.SendRow(1, kProtectionStatus);
    first.SendRow(2, kProtectionStatus);
    first.SendRow(3, kRecoveryRequest, kSecret);
    ASSERT_TRUE(first.WaitForAck(3));

    // The agent is linked to the second server before the first notices that its stream ended.
    CTestLink second(m_addresses[1], m_bundle);
    ASSERT_EQ(second.Greet(), 3);
    second.SendRow(4, kProtectionStatus);
    second.SendRow(5, kProtectionStatus);
    ASSERT_TRUE(second.WaitForAck(5));
    first.Close();
    ASSERT_TRUE(WaitForLog(0, std::string(kComputer) + " disconnected"));

    const Poco::JSON::Object::Ptr host = Host(0);
    EXPECT_TRUE(host->getValue<bool>("connected"));
    EXPECT_EQ(host->getValue<int>("committed_through"), 5);
    EXPECT_EQ(host->getValue<int>("rows"), 5);

    // A task queued through the server the agent left follows it to the other.
    Admin(0, {"task", kComputer, R"({"task":"query","kind":0})"});
    EXPECT_NE(second.WaitForTask("\"kind\":0"), 0);
    second.Close();
}

TEST_F(FleetServersTest, RevealsThroughEitherServerLandInTheOneAudit) {
    CTestLink link(m_addresses[1], m_bundle);
    ASSERT_EQ(link.Greet(), 0);
    link.SendRow(1, kRecoveryRequest, kSecret);
    ASSERT_TRUE(link.WaitForAck(1));
    link.Close();

    // Each server opens what the other sealed: they share the state folder's key.
    EXPECT_NE(Admin(0, {"reveal", kComputer, "--reason", "ticket a"}).find(kSecret), std::string::npos);
    EXPECT_NE(Admin(1, {"reveal", kComputer, "--reason", "ticket b"}).find(kSecret), std::string::npos);
    for (int which : {0, 1}) {
        const std::string audit = Admin(which, {"audit"});
        EXPECT_NE(audit.find("ticket a"), std::string::npos) << audit;
        EXPECT_NE(audit.find("ticket b"), std::string::npos) << audit;
    }
}

}  // namespace
