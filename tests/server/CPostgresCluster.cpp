#include "tests/server/CPostgresCluster.h"

#include <Poco/Data/PostgreSQL/Connector.h>
#include <Poco/Data/Session.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace Zun {
namespace Testing {

namespace {

const std::string kBinaries = "/usr/lib/postgresql/15/bin/";
const char* const kAccount = "postgres";

bool IsRoot() {
    return geteuid() == 0;
}

// A word for sh, whatever it holds.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Connection(const std::string& folder, const std::string& database) {
    return "host=" + folder + " dbname=" + database + " user=" + kAccount;
}

}  // namespace

bool CPostgresCluster::IsAvailable() {
    const bool binaries = access((kBinaries + "initdb").c_str(), X_OK) == 0;
    return binaries && (!IsRoot() || getpwnam(kAccount) != nullptr);
}

CPostgresCluster::CPostgresCluster() {
    char pattern[] = "/tmp/quil-server-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make the cluster's folder");
    }
    m_folder = pattern;
    if (IsRoot()) {
        const passwd* account = getpwnam(kAccount);
        if (account == nullptr || chown(m_folder.c_str(), account->pw_uid, account->pw_gid) != 0) {
            throw std::runtime_error("cannot hand " + m_folder + " to " + kAccount);
        }
    }
    const std::string data = m_folder + "/data";
    if (Run(kBinaries + "initdb --no-sync -A trust -U " + kAccount + " -D " + Quoted(data) + " >" + m_folder +
            "/initdb.log 2>&1") != 0) {
        throw std::runtime_error("initdb failed, see " + m_folder + "/initdb.log");
    }
    const std::string options = "-c listen_addresses='' -c fsync=off -k " + m_folder;
    if (Run(kBinaries + "pg_ctl -w -s -D " + Quoted(data) + " -l " + m_folder + "/server.log -o \"" +
            options + "\" start") != 0) {
        throw std::runtime_error("pg_ctl start failed, see " + m_folder + "/server.log");
    }
    m_started = true;
    Poco::Data::PostgreSQL::Connector::registerConnector();
}

CPostgresCluster::~CPostgresCluster() {
    if (m_started) {
        Run(kBinaries + "pg_ctl -w -s -m immediate -D " + Quoted(m_folder + "/data") + " stop");
    }
    std::system(("rm -rf " + Quoted(m_folder)).c_str());
}

int CPostgresCluster::Run(const std::string& command) const {
    const std::string line =
        IsRoot() ? "runuser -u " + std::string(kAccount) + " -- sh -c " + Quoted(command) : command;
    return std::system(line.c_str());
}

std::string CPostgresCluster::NewDatabase() {
    const std::string name = "fleet" + std::to_string(++m_databases);
    Poco::Data::Session session(Poco::Data::PostgreSQL::Connector::KEY, Connection(m_folder, "postgres"));
    session << "CREATE DATABASE " + name, Poco::Data::Keywords::now;
    return "postgresql:" + Connection(m_folder, name);
}

}  // namespace Testing
}  // namespace Zun
