// A PostgreSQL/PostGIS database named the way GDAL names one: "PG:"
// followed by libpq's key=value pairs (values with blanks in single
// quotes), with GDAL's own "active_schema" and "schemas" to name the schema
// whose tables are the layers. A PgConnection never carries a password:
// libpq finds it in ~/.pgpass (or PGPASSFILE) or PGPASSWORD, so that it is
// neither written into a configuration nor shown on a command line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host::gis {

class PgConnection {
public:
    // True for a text that names a database ("PG:...", in any case).
    static bool IsConnectionString(const std::string& text);
    // Reads "PG:key=value ..."; raises with a message naming the problem
    // when the text is malformed or holds a password.
    static PgConnection Parse(const std::string& text);
    // The parts a configuration states one by one; empty ones are left to
    // libpq's defaults (PGHOST, PGPORT, PGUSER, the local socket).
    static PgConnection FromParts(const std::string& host, const std::string& port, const std::string& database,
                                  const std::string& schema, const std::string& user);

    // Empty when not given.
    std::string Get(const std::string& key) const;
    // The schema of the layers: active_schema, else the first of schemas,
    // else "public".
    std::string Schema() const;
    // The same database with its layers in another schema.
    PgConnection InSchema(const std::string& schema) const;
    // "PG:key='value' ...", in the order the keys were given.
    std::string ToString() const;
    // For messages: database, host and schema, without the connection syntax.
    std::string Describe() const;

private:
    void Set(const std::string& key, const std::string& value);
    std::vector<std::pair<std::string, std::string>> params_;
};

// A name quoted as a PostgreSQL identifier ("name", quotes doubled).
std::string QuotePgIdentifier(const std::string& name);
// A text quoted as a PostgreSQL literal ('text', quotes doubled).
std::string QuotePgLiteral(const std::string& text);

}  // namespace host::gis
