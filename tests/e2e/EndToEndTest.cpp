// quil-agent and quil-product as real processes with the short-wait module, checked through what
// the agent stores: the same road a change takes in production, only faster.
#include <gtest/gtest.h>

#include <Poco/Base64Encoder.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "host/proto/Encryption.pb.h"
#include "tools/demo/CSession.h"

namespace {

using namespace Zun::Tools::Demo;
using std::chrono::seconds;

const seconds kDeadline(15);
const std::string kPassword = "e2e-secret-482193-771026";
const std::string kData = "e2e-secret-data-block-0042";
const std::string kConfiguration = "<VELM><Config Mode=\"e2e\"/></VELM>";

std::string Base64(const std::string& bytes) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << bytes;
    encoder.close();
    return out.str();
}

// One status record of each level that shows, one that the storage status reports, a licence,
// and recovery material whose plain values the tests look for.
std::string State() {
    return R"({"Status":[{"Status":2,"CategoryResId":"0x12000003","StatusResId":"0x12000120","DescriptionResId":"0x7"},
                         {"Status":0,"CategoryResId":"0x12000001","StatusResId":"0x120000FD"}],
      "Licenses":[{"AssociatedSeatId":"SEAT-7","LicensePublicId":"ID-7","LicenseProductName":"VELM FDE",
                   "LicenseExpirationDate":1893456000,"ActivatedByZun":false,"SeatName":"desk-7",
                   "LicenseType":"Subscription"}],
      "RecoveryPasswords":[{"Uid":"rp-7","DeviceId":"disk-0","Index":"2","Value":")" +
           kPassword + R"("}],
      "RecoveryData":[{"Uid":"rd-7","DeviceId":"disk-1","ValueBase64":")" +
           Base64(kData) + R"("}],
      "Configuration":")" +
           "<VELM><Config Mode=\\\"e2e\\\"/></VELM>" + R"(","RecoveryReannounceSeconds":0})";
}

std::string Ids(char task) {
    const std::string stem = "e2e00000-0000-4000-8000-00000000000";
    return "[\"" + stem + task + "\",\"" + stem.substr(0, 34) + "1" + task + "\",\"" + stem.substr(0, 34) +
           "2" + task + "\"]";
}
std::string Id(char task, int which) {
    return Ids(task).substr(2 + 39 * static_cast<size_t>(which), 36);
}

class EndToEnd : public testing::Test {
protected:
    EndToEnd() : session(CSession::Options{QUIL_BIN_DIR, QUIL_TESTING_MODULE, false}) {}

    void RunInstalled(const std::string& state = State()) {
        session.InstallProduct();
        session.StartProduct(state);
        // The most verbose level, raw product documents included: where a secret would leak first.
        session.StartAgent({"--log-level", "TRACE"});
    }
    void Wait(const std::string& what, const std::function<bool(const CPublishedLog&)>& condition) {
        session.Require(what, condition, kDeadline);
    }
    static std::function<bool(const CPublishedLog&)> HasResult(const std::string& first) {
        return [first](const CPublishedLog& log) {
            for (const CPublished& event : log.OfType(10368)) {
                if (event.Symbol(0, 2842) == first) {
                    return true;
                }
            }
            return false;
        };
    }
    // Symbols of the module's logs, as the agent prints them; "" for "the instance identifier".
    struct Expected {
        uint32_t type;
        size_t nth;  // which message of the type
        size_t row;
        int symbol;
        std::string value;
    };
    void Check(const std::vector<Expected>& table) {
        const CPublishedLog log = session.Published();
        const std::string instance = log.Count(10292) > 0 ? log.OfType(10292)[0].Symbol(0, 2141)
                                                          : log.OfType(10044).at(0).Symbol(0, 235);
        EXPECT_EQ(36u, instance.size()) << instance;
        for (const Expected& e : table) {
            const auto messages = log.OfType(e.type);
            ASSERT_LT(e.nth, messages.size()) << e.type;
            EXPECT_EQ(e.value.empty() ? instance : e.value, messages[e.nth].Symbol(e.row, e.symbol))
                << "type " << e.type << " #" << e.nth << " row " << e.row << " symbol " << e.symbol;
        }
    }

    CSession session;
};

TEST_F(EndToEnd, EveryPublishedTypeCarriesItsContent) {
    RunInstalled();
    Wait("the first look", [](const CPublishedLog& log) {
        return log.Count(10292) == 1 && log.Count(10044) >= 2 && log.Count(10553) >= 1 &&
               log.Count(10348) >= 1 && log.Count(728) >= 1;
    });
    const char tasks[] = "abcdef1";
    for (const std::string& line :
         {R"({"task":"activate","managed_activation":"ID-7","ids":)" + Ids('a') + "}",
          R"({"task":"block-password","ids":)" + Ids('b') + "}",
          R"({"task":"invalidate-password","ids":)" + Ids('c') + "}",
          R"({"task":"wipe-password","ids":)" + Ids('d') + "}",
          R"({"task":"maintenance-on","boots":2,"ids":)" + Ids('e') + "}",
          R"({"task":"maintenance-off","ids":)" + Ids('f') + "}",
          R"({"task":"export-configuration","product_type":10,"ids":)" + Ids('1') + "}"}) {
        session.Send(line);
    }
    for (const char* task = tasks; *task != '\0'; ++task) {
        Wait(std::string("the result of task ") + *task, HasResult(Id(*task, 0)));
    }
    Wait("the activated licence",
         [](const CPublishedLog& log) { return log.OfType(10348).back().Symbol(0, 2700) == "true"; });

    Check({{10292, 0, 0, 2143, "1"},
           {10292, 0, 0, 2141, ""},
           {10292, 0, 0, 2146, "11"},
           {10292, 0, 0, 2147, "256"},
           {10405, 0, CPublished::kProduct, 4429, "0x071000000000081C"},
           {10405, 0, 0, 3560, "velm.local.products.quil.computer"},
           {10405, 0, 0, 3554, "6"},
           {10405, 0, 0, 3559, "29"},
           {10405, 0, 0, 4429, "0x071000000000081C"},
           // The connect row, then the status task's row for the status-2 record.
           {10044, 0, 0, 241, "1"},
           {10044, 0, 0, 235, ""},
           {10044, 0, 0, 247, "0x071000000000021E"},
           {10044, 0, 0, 248, "0xFFFFFFFFFFFFFFFF"},
           {10044, 1, 0, 241, "5"},
           {10044, 1, 0, 244, "29"},
           {10044, 1, 0, 245, "0x071000000000081B"},
           {10044, 1, 0, 246, "0x0000000012000003"},
           {10044, 1, 0, 247, "0x0710000000000220"},
           {10044, 1, 0, 248, "0x0000000012000120"},
           {10044, 1, 0, 4298, "0x0000000000000007"},
           {10553, 0, 0, 4672, "1"},
           {10553, 0, 0, 4670, ""},
           {10348, 0, CPublished::kProduct, 2750, "29"},
           {10348, 0, 0, 2692, "SEAT-7"},
           {10348, 0, 0, 2693, "ID-7"},
           {10348, 0, 0, 2696, "VELM FDE"},
           {10348, 0, 0, 2700, "false"},
           {10348, 0, 0, 2698, "2030-01-01T00:00:00Z"},
           {10348, 0, 0, 4305, "desk-7"},
           {10348, 0, 0, 4307, "Subscription"},
           {10244, 0, 0, 1888, "1"},
           {10244, 0, 0, 1891, "0x071000000000081B"},
           {10244, 0, 0, 1892, Base64(kConfiguration)}});

    // Every command comes back done with its own identifiers (an export of a product type that is
    // not exported never gets this far: the agent refuses it).
    for (const CPublished& event : session.Published().OfType(10368)) {
        const std::string first = event.Symbol(0, 2842);
        EXPECT_EQ(first.substr(0, 34) + "2" + first.substr(35), event.Symbol(0, 2846)) << "third identifier";
        EXPECT_EQ(first.substr(0, 34) + "1" + first.substr(35), event.Symbol(0, 2844)) << "second identifier";
        EXPECT_EQ("30", event.Symbol(0, 2850)) << first;
        EXPECT_EQ("0x000000010000000B", event.Symbol(0, 2848)) << first;
        EXPECT_EQ("0x071000000000081B", event.Symbol(0, 2853)) << first;
        EXPECT_FALSE(event.HasSymbol(0, 2913)) << first;
    }
    EXPECT_EQ(1u, session.Published().Count(10244));

    const CPublished escrow = session.Published().OfType(728).at(0);
    Zun::Common::DataDefinition::Encryption::FDERecoveryData data;
    ASSERT_TRUE(data.ParseFromString(session.Published().Payload(escrow.Sequence())));
    ASSERT_EQ(1, data.recovery_passwords_size());
    ASSERT_EQ(1, data.recovery_data_blocks_size());
    EXPECT_EQ(kPassword, data.recovery_passwords(0).recovery_password());
    EXPECT_EQ("rp-7", data.recovery_passwords(0).internalid());
    EXPECT_EQ("2", data.recovery_passwords(0).index());
    EXPECT_EQ(kData, data.recovery_data_blocks(0).recovery_data());
    EXPECT_EQ("disk-1", data.recovery_data_blocks(0).deviceid());
}

TEST_F(EndToEnd, EscrowedSecretsReachNoLogAndConfirmationClearsThem) {
    RunInstalled();
    Wait("the recovery escrow", [](const CPublishedLog& log) { return log.Count(728) >= 1; });
    EXPECT_NE(std::string::npos, session.Control(R"({"op":"show"})").find("rp-7"));
    session.Send(R"({"task":"recovery-response","passwords":["rp-7"],"data":["rd-7"]})");
    const CChildProcess* agent = session.Agent();
    ASSERT_TRUE(CChildProcess::WaitUntil(
        {session.Agent(), session.Product()},
        [this] { return session.Control(R"({"op":"show"})").find("rp-7") == std::string::npos; },
        After(kDeadline)))
        << "the product still holds the confirmed password";
    const std::string shown = session.Control(R"({"op":"show"})");
    const std::string table = session.AgentLogs();
    const std::string json = session.AgentLogs({"--json"});
    ASSERT_EQ(0, session.StopAgent());
    ASSERT_EQ(0, session.StopProduct());
    EXPECT_EQ("", session.Published().Payload(session.Published().OfType(728).at(0).Sequence()))
        << "the agent still keeps the confirmed secrets";

    std::ifstream agentLog(session.AgentLogFile()), productLog(session.ProductLogFile());
    std::vector<std::pair<std::string, std::string>> outputs = {
        {"agent log file", std::string(std::istreambuf_iterator<char>(agentLog), {})},
        {"product output", std::string(std::istreambuf_iterator<char>(productLog), {})},
        {"agent output", agent->Output() + agent->Errors()},
        {"product show", shown},
        {"quil-agent logs", table},
        {"quil-agent logs --json", json}};
    EXPECT_NE(std::string::npos, outputs[0].second.find("Stored")) << "the agent log file is empty";
    EXPECT_NE(std::string::npos, outputs[1].second.find("serving")) << "the product output is empty";
    // Every byte the agent keeps at rest: database, write-ahead log, key, lock and log.
    const std::string folder = session.Database().substr(0, session.Database().rfind('/'));
    for (const char* name : {"agent.db", "agent.db-wal", "agent.db-shm", "agent.db.key", "agent.log"}) {
        std::ifstream file(folder + "/" + name, std::ios::binary);
        outputs.emplace_back(name, std::string(std::istreambuf_iterator<char>(file), {}));
    }
    for (const auto& output : outputs) {
        for (const std::string& secret : {kPassword, kData, Base64(kPassword), Base64(kData)}) {
            EXPECT_EQ(std::string::npos, output.second.find(secret)) << output.first << " shows " << secret;
        }
    }
}

TEST_F(EndToEnd, ProductRestartReappliesThePolicy) {
    RunInstalled();
    const std::string policy = "<VELM><Policy Name=\\\"after-restart\\\"/></VELM>";
    session.Send(R"({"task":"policy","configuration":")" + policy + "\"}");
    session.RequireAgentLine("Set policy request to product was successfull", 0, kDeadline);

    const size_t mark = session.Agent()->Errors().size();
    ASSERT_EQ(0, session.StopProduct());
    // The product comes back only once the worker has noticed it gone: the watchdog's missed ping
    // makes the worker run a request that fails, and only then does it reconnect. A product back
    // before that would see no reconnect, and no policy applied again.
    session.RequireAgentLine("Reconnecting to product", mark, kDeadline);
    session.StartProduct(State());  // the restarted product knows no policy
    Wait("the reconnect", [](const CPublishedLog& log) { return log.Count(10292) == 2; });
    session.RequireAgentLine("Set policy request to product was successfull", mark, kDeadline);

    session.Send(R"({"task":"export-configuration","product_type":0,"ids":)" + Ids('1') + "}");
    Wait("the export", [](const CPublishedLog& log) { return log.Count(10244) == 1; });
    EXPECT_EQ(Base64("<VELM><Policy Name=\"after-restart\"/></VELM>"),
              session.Published().OfType(10244)[0].Symbol(0, 1892));
}

TEST_F(EndToEnd, WithoutTheProductOnlyTheDeactivatedStatusIsPublished) {
    session.StartAgent();
    Wait("the deactivated status", [](const CPublishedLog& log) { return log.Count(10405) == 1; });
    session.Send(R"({"task":"block-password","ids":)" + Ids('b') + "}");
    session.Send(R"({"task":"query","kind":0})");
    ASSERT_EQ(0, session.StopAgent());

    std::vector<uint32_t> fromModule;
    for (const CPublished& message : session.Published().All()) {
        if ((message.Type() > 9000 || message.Type() == 728) && message.UserContext() != "quil-agent") {
            fromModule.push_back(message.Type());
        }
    }
    EXPECT_EQ(std::vector<uint32_t>{10405}, fromModule);
    const CPublished status = session.Published().OfType(10405).at(0);
    EXPECT_EQ(0u, status.RowCount());
    EXPECT_EQ(std::vector<int>{4429}, status.SymbolIds(CPublished::kProduct));
    EXPECT_EQ("0x071000000000081C", status.Symbol(CPublished::kProduct, 4429));
    EXPECT_NE(std::string::npos, session.Agent()->Errors().find("Connector was deactivated"));
    // The agent names where it looked and leaves its own unreachable row, so no earlier "all
    // clear" stands as the last word.
    EXPECT_NE(std::string::npos, session.Agent()->Errors().find("object root " + session.Folder()));
    const auto notes = session.Published().OfType(10044);
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ("quil-agent", notes[0].UserContext());
    EXPECT_EQ("6", notes[0].Symbol(0, 241));
}

TEST_F(EndToEnd, SendWaitsForTheTaskResultAndStatusTellsWhetherTheProductAnswers) {
    RunInstalled();
    Wait("the connection", [](const CPublishedLog& log) { return log.Count(10292) == 1; });
    const auto agent = [this](std::vector<std::string> arguments, std::string& output) {
        arguments.insert(arguments.begin(), {session.Binary("quil-agent")});
        arguments.insert(arguments.end(), {"--db", session.Database()});
        return CChildProcess::Run(arguments, output, After(kDeadline));
    };
    std::string output;
    ASSERT_EQ(0, agent({"status", "--json"}, output)) << output;
    EXPECT_NE(std::string::npos, output.find(R"("product":"connected")")) << output;

    // A command that went through is reported by the product's task result, state 30.
    ASSERT_EQ(0, agent({"send", "--wait", R"({"task":"block-password","ids":)" + Ids('7') + "}"}, output))
        << output;
    EXPECT_NE(std::string::npos, output.find(R"("ok":true)")) << output;
    EXPECT_NE(std::string::npos, output.find(Id('7', 0), output.find("10368"))) << output;
    EXPECT_EQ(64, agent({"send", "--wait", R"({"task":"query","kind":0})"}, output)) << "no task identifiers";

    session.Control(R"({"op":"pings","answer":false})");
    Wait("the agent's note", [](const CPublishedLog& log) {
        for (const CPublished& status : log.OfType(10044)) {
            if (status.UserContext() == "quil-agent" && status.Symbol(0, 241) == "6") {
                return true;
            }
        }
        return false;
    });
    ASSERT_EQ(1, agent({"status", "--json"}, output)) << output;
    EXPECT_NE(std::string::npos, output.find(R"("product":"not reachable")")) << output;
    EXPECT_NE(std::string::npos, output.find(R"("last_ping_failure")")) << output;
}

// An installed product that never answers, whether it serves with its pings stopped or does not serve.
class UnreachableProduct : public EndToEnd, public testing::WithParamInterface<bool> {};

TEST_P(UnreachableProduct, PublishesTheUnreachableStatusAndNeverConnects) {
    session.InstallProduct();
    if (GetParam()) {
        session.StartProduct();
        session.Control(R"({"op":"pings","answer":false})");
    }
    session.StartAgent();
    Wait("the unreachable status", [](const CPublishedLog& log) { return log.Count(10044) >= 1; });
    ASSERT_EQ(0, session.StopAgent());

    Check({{10044, 0, 0, 241, "6"},
           {10044, 0, 0, 235, ""},
           {10044, 0, 0, 244, "29"},
           {10044, 0, 0, 245, "0x071000000000081B"},
           {10044, 0, 0, 246, "0x071000000000022B"},
           {10044, 0, 0, 247, "0x0710000000000221"},
           {10044, 0, 0, 248, "0x00000001000000B3"}});
    EXPECT_EQ(0u, session.Published().Count(10292)) << "a connect was announced";
    EXPECT_NE(std::string::npos, session.Agent()->Errors().find("Cannot start pixlink channel"))
        << session.Agent()->Errors();
}

INSTANTIATE_TEST_SUITE_P(PingsOffOrNotServing, UnreachableProduct, testing::Bool());

}  // namespace
