// The PostgreSQL/PostGIS server of the tests: scripts/postgis-server.sh
// starts it before them (the CTest fixture "postgis") and stops it after,
// and writes its settings into the folder PXCP_PG_STATE names.
#pragma once

#include <string>

namespace pxtest {

struct PostgisServer {
    // Puts the server's settings (PGHOST, PGUSER, PGPASSFILE, ...) into the
    // environment, as an analyst's shell would hold them. Throws, and so
    // fails the test, when no server was started.
    static PostgisServer Use();
    std::string socketFolder;
    std::string logFile;  // every statement the server ran
    // "PG:dbname=plexa host=... active_schema=SCHEMA"; no password.
    std::string Connection(const std::string& schema = "demo") const;
    // A schema name no other test uses.
    static std::string FreshSchema(const std::string& stem);
    // Runs SQL as the analyst and returns the first column of each row.
    std::string Query(const std::string& sql) const;
};

}  // namespace pxtest
