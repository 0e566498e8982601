#include "host/gis/PgConnection.h"

#include <cctype>

#include "host/Object.h"

namespace host::gis {

namespace {

bool NeedsQuotes(const std::string& value) {
    if (value.empty()) return true;
    for (char c : value)
        if (std::isspace(static_cast<unsigned char>(c)) || c == '\'' || c == '\\' || c == '=') return true;
    return false;
}

std::string QuoteValue(const std::string& value) {
    if (!NeedsQuotes(value)) return value;
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

[[noreturn]] void Malformed(const std::string& why) {
    Raise(kErrInvalidCall, "The database connection is malformed: " + why, "PXGIS");
}

}  // namespace

bool PgConnection::IsConnectionString(const std::string& text) {
    return text.size() >= 3 && IEquals(text.substr(0, 3), "PG:");
}

PgConnection PgConnection::Parse(const std::string& text) {
    if (!IsConnectionString(text)) Malformed("it does not start with PG:");
    std::string rest = text.substr(3);
    if (Trim(rest).rfind("postgres", 0) == 0 && Trim(rest).find("://") != std::string::npos)
        Malformed("give it as key=value pairs (PG:dbname=NAME host=HOST ...), not as a URI");
    PgConnection c;
    size_t i = 0;
    auto blank = [&] {
        while (i < rest.size() && std::isspace(static_cast<unsigned char>(rest[i]))) ++i;
    };
    while (true) {
        blank();
        if (i >= rest.size()) break;
        size_t start = i;
        while (i < rest.size() && rest[i] != '=' && !std::isspace(static_cast<unsigned char>(rest[i]))) ++i;
        std::string key = rest.substr(start, i - start);
        blank();
        if (key.empty() || i >= rest.size() || rest[i] != '=') Malformed("\"" + rest.substr(start) + "\" is not key=value");
        ++i;
        blank();
        std::string value;
        if (i < rest.size() && rest[i] == '\'') {
            ++i;
            bool closed = false;
            while (i < rest.size()) {
                char ch = rest[i++];
                if (ch == '\\' && i < rest.size()) {
                    value += rest[i++];
                } else if (ch == '\'') {
                    closed = true;
                    break;
                } else {
                    value += ch;
                }
            }
            if (!closed) Malformed("the value of " + key + " has no closing quote");
        } else {
            while (i < rest.size() && !std::isspace(static_cast<unsigned char>(rest[i]))) value += rest[i++];
        }
        c.Set(LCase(key), value);
    }
    for (auto& [key, value] : c.params_)
        if (key == "password")
            Raise(kErrInvalidCall,
                  "A database connection may not hold a password: libpq reads it from ~/.pgpass or PGPASSWORD", "PXGIS");
    return c;
}

PgConnection PgConnection::FromParts(const std::string& host, const std::string& port, const std::string& database,
                                     const std::string& schema, const std::string& user) {
    PgConnection c;
    if (!database.empty()) c.Set("dbname", database);
    if (!host.empty()) c.Set("host", host);
    if (!port.empty()) c.Set("port", port);
    if (!user.empty()) c.Set("user", user);
    if (!schema.empty()) c.Set("active_schema", schema);
    return c;
}

std::string PgConnection::Get(const std::string& key) const {
    for (auto& [k, v] : params_)
        if (k == key) return v;
    return "";
}

void PgConnection::Set(const std::string& key, const std::string& value) {
    for (auto& [k, v] : params_)
        if (k == key) {
            v = value;
            return;
        }
    params_.emplace_back(key, value);
}

std::string PgConnection::Schema() const {
    std::string s = Get("active_schema");
    if (s.empty()) s = Get("schemas").substr(0, Get("schemas").find(','));
    return s.empty() ? "public" : s;
}

PgConnection PgConnection::InSchema(const std::string& schema) const {
    PgConnection c = *this;
    c.Set("active_schema", schema);
    // Other schemas listed would offer their tables as layers of this one.
    if (!c.Get("schemas").empty()) c.Set("schemas", schema);
    return c;
}

std::string PgConnection::ToString() const {
    std::string s = "PG:";
    for (size_t n = 0; n < params_.size(); ++n) s += (n ? " " : "") + params_[n].first + "=" + QuoteValue(params_[n].second);
    return s;
}

std::string PgConnection::Describe() const {
    std::string db = Get("dbname").empty() ? Get("service") : Get("dbname");
    std::string s = "the database " + (db.empty() ? std::string("of the PostgreSQL defaults") : "\"" + db + "\"");
    if (!Get("host").empty()) s += " on " + Get("host");
    return s + ", schema \"" + Schema() + "\"";
}

std::string QuotePgIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string QuotePgLiteral(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

}  // namespace host::gis
