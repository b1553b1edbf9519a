#pragma once

#include <string>

namespace Zun {
namespace Testing {

// A PostgreSQL cluster of the test's own: initdb into a fresh temporary folder, served on a Unix
// socket in that folder only (no TCP), stopped and removed with the object. PostgreSQL refuses to run
// as root, so a root test runs the server binaries as the postgres account, which owns the folder.
class CPostgresCluster {
public:
    CPostgresCluster();
    ~CPostgresCluster();
    CPostgresCluster(const CPostgresCluster&) = delete;
    CPostgresCluster& operator=(const CPostgresCluster&) = delete;

    // Whether the server binaries are installed (and, for root, the postgres account exists).
    static bool IsAvailable();
    // A connection string of the server's syntax for a new, empty database of the cluster.
    std::string NewDatabase();
    std::string Folder() const { return m_folder; }

private:
    int Run(const std::string& command) const;

    std::string m_folder;
    int m_databases = 0;
    bool m_started = false;
};

}  // namespace Testing
}  // namespace Zun
