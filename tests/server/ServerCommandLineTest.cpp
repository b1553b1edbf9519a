#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "server/CServerCommands.h"
#include "server/CServerOptions.h"
#include "server/CServerSettings.h"
#include "tools/ExitCodes.h"

namespace Zun {
namespace Server {
namespace {

using ::testing::HasSubstr;
using Tools::Agent::CAgentConfiguration;

TEST(ServerOptionsTest, RefusesBadCommandLinesNamingTheCulprit) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"launch"}, "launch"},
        {{"ca"}, "init"},
        {{"host"}, "NAME"},
        {{"reveal", "pc-1"}, "--reason"},
        {{"enrol", "pc-1"}, "--out"},
        {{"task", "pc-1"}, "task line"},
        {{"task", "--all", "pc-1", "{}"}, "unexpected"},
        {{"run", "--log-level", "chatty"}, "--log-level"},
        {{"run", "--listen", "7443"}, "--listen"},
        {{"enrol", "pc-1", "--out", "b.pem", "--days", "0"}, "--days"},
        {{"hosts", "--colour"}, "--colour"},
        {{"run", "--db"}, "--db"},
        {{"run", "--retention-rows", "-1"}, "--retention-rows"},
        {{"run", "--retention-days", "12d"}, "--retention-days"},
        {{"run", "--retention-days", "99999999999"}, "--retention-days"},
    };
    for (const auto& c : cases) {
        try {
            CServerOptions::Parse(c.first);
            ADD_FAILURE() << "accepted: " << c.first.at(0);
        } catch (const std::invalid_argument& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.second));
        }
    }
}

TEST(ServerOptionsTest, FillsTheStateFolderIntoTheDefaultsAndBuildsRequests) {
    const CServerOptions run = CServerOptions::Parse({"run", "--state", "/srv/q", "--log-level", "debug"});
    EXPECT_EQ(run.database, "/srv/q/server.db");
    EXPECT_EQ(run.adminSocket, "/srv/q/admin.sock");
    EXPECT_EQ(run.logLevel, "DEBUG");
    EXPECT_GT(run.retentionRows, 0) << "history is bounded unless told otherwise";
    EXPECT_EQ(CServerOptions::Parse({"run", "--retention-days", "0"}).retentionDays, 0);
    EXPECT_EQ(CServerOptions::Parse({"ca", "init", "--name", "fleet.example"}).serverNames.at(0),
              "fleet.example");
    EXPECT_EQ(CServerCommands::Request(
                  CServerOptions::Parse({"reveal", "pc-1", "--reason", "why", "--device", "d"})),
              "{\"command\":\"reveal\",\"name\":\"pc-1\",\"reason\":\"why\",\"device\":\"d\"}");
    EXPECT_EQ(
        CServerCommands::Request(CServerOptions::Parse({"task", "--all", "{\"task\":\"query\",\"kind\":1}"})),
        "{\"command\":\"task\",\"all\":true,\"line\":\"{\\\"task\\\":\\\"query\\\",\\\"kind\\\":1}\"}");
    EXPECT_THAT(CServerOptions::CommandUsage("reveal"), HasSubstr("--reason TEXT"));
    EXPECT_TRUE(CServerOptions::CommandUsage("launch").empty());
}

TEST(ServerSettingsTest, FileThenOptionThenEnvironmentAndPrintShowsEachSource) {
    char pattern[] = "/tmp/quil-server-conf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string file = std::string(pattern) + "/server.conf";
    std::ofstream(file) << "state-folder = /srv/file\nlisten = 127.0.0.1:1\nlog-level = warn\n";
    chmod(file.c_str(), 0600);
    const auto& schema = CServerSettings::Schema();
    const CAgentConfiguration configuration(
        {"run", "--config", file, "--listen", "127.0.0.1:2", "--print-config"},
        {{"QUIL_SERVER_LOG_LEVEL", "error"}}, "", schema);
    const CServerOptions options = CServerOptions::Parse(configuration.Arguments());
    EXPECT_EQ(options.stateFolder, "/srv/file");
    EXPECT_EQ(options.listen, "127.0.0.1:2");
    EXPECT_EQ(options.logLevel, "ERROR");
    std::ostringstream printed;
    configuration.Print(printed, CServerSettings::Effective(options));
    EXPECT_THAT(printed.str(), HasSubstr("file " + file));
    EXPECT_THAT(printed.str(), HasSubstr("option --listen"));
    EXPECT_THAT(printed.str(), HasSubstr("environment QUIL_SERVER_LOG_LEVEL"));
    EXPECT_THAT(printed.str(), HasSubstr("/srv/file/server.db"));

    std::ofstream(file) << "colour = blue\n";
    try {
        CAgentConfiguration({"run", "--config", file}, {}, "", schema);
        ADD_FAILURE() << "an unknown key was taken";
    } catch (const CAgentConfiguration::CError& e) {
        EXPECT_EQ(e.Code(), Tools::ExitCode::kConfig);
    }
    EXPECT_THROW(CAgentConfiguration({"run"}, {{"QUIL_SERVER_LOG_LEVEL", "loud"}}, "", schema),
                 CAgentConfiguration::CError);
    std::system(("rm -rf " + std::string(pattern)).c_str());
}

TEST(ServerCommandsTest, NoServerOnTheSocketIsUnavailable) {
    std::ostringstream out;
    std::ostringstream err;
    const CServerOptions options =
        CServerOptions::Parse({"hosts", "--admin-socket", "/nonexistent/admin.sock"});
    EXPECT_EQ(CServerCommands::Admin(options, out, err), Tools::ExitCode::kUnavailable);
    EXPECT_THAT(err.str(), HasSubstr("/nonexistent/admin.sock"));
}

}  // namespace
}  // namespace Server
}  // namespace Zun
