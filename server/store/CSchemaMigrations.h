#pragma once

#include <Poco/Data/Session.h>
#include <string>
#include <vector>

#include "server/store/CServerDatabase.h"

namespace Zun {
namespace Server {

// The schema's history: each version is a list of statements for each engine, applied in order in
// one transaction with its row in schema_version, so that a server stopped half-way starts again
// from the last version it finished. A database of a later version than this server knows is
// refused rather than written with an older idea of its tables.
class CSchemaMigrations {
public:
    struct Migration {
        int version;
        std::vector<std::string> sqlite;
        std::vector<std::string> postgresql;
    };

    static const std::vector<Migration>& All();
    static int Latest();
    // Brings the database to the latest version; returns the version it found.
    static int Apply(CServerDatabase& database);
    // The version recorded in the database, 0 for a fresh one.
    static int Current(Poco::Data::Session& session);
};

}  // namespace Server
}  // namespace Zun
