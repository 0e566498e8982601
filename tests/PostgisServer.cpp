#include "PostgisServer.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace pxtest {

PostgisServer PostgisServer::Use() {
    const char* state = std::getenv("PXCP_PG_STATE");
    if (!state) throw std::runtime_error("PXCP_PG_STATE is not set: run the tests through ctest, which starts the server");
    std::ifstream env(std::string(state) + "/env");
    if (!env) throw std::runtime_error(std::string("no PostGIS test server was started in ") + state);
    PostgisServer s;
    std::string line;
    while (std::getline(env, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos || line.rfind("export", 0) == 0) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        setenv(key.c_str(), value.c_str(), 1);
        if (key == "PGHOST") s.socketFolder = value;
        if (key == "PXCP_PG_LOG") s.logFile = value;
    }
    unsetenv("PGPASSWORD");
    return s;
}

std::string PostgisServer::Connection(const std::string& schema) const {
    return "PG:dbname=plexa host=" + socketFolder + " active_schema=" + schema;
}

std::string PostgisServer::FreshSchema(const std::string& stem) {
    static std::atomic<int> n{0};
    return stem + "_" + std::to_string(getpid()) + "_" + std::to_string(++n);
}

std::string PostgisServer::Query(const std::string& sql) const {
    std::string cmd = "psql -X -q -A -t -h '" + socketFolder + "' -d plexa -c \"" + sql + "\" 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf;
        while (size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
        pclose(p);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace pxtest
