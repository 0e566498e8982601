// The PostGIS kind of Workspace: the tables of one schema, read and written
// through GDAL's PostgreSQL driver, which runs where-clauses and spatial
// filters in the database.
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <random>

#include "host/gis/GdalSupport.h"
#include "host/gis/PgConnection.h"
#include "host/gis/Workspace.h"

namespace host::gis {

namespace {

// libpq's reasons come over several lines ("PQconnectdb failed.", the
// socket, the server's FATAL); a message is one.
std::string OneLineReason(const std::string& text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == '\n' || c == '\t' || c == ' ' || c == '\r') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    for (const char* noise : {"PQconnectdb failed. ", "PQconnectdb failed."})
        if (out.rfind(noise, 0) == 0) out = out.substr(std::string(noise).size());
    return out;
}

// A table name no other run will choose: the table's own, shortened to leave
// room, a word that says what it holds ("_new_", "_old_") and a random suffix.
std::string TemporaryName(const std::string& table, const std::string& word = "_new_") {
    static std::mt19937_64 random{std::random_device{}()};
    const char* hex = "0123456789abcdef";
    std::string suffix = word;
    auto r = random();
    for (int i = 0; i < 10; ++i, r >>= 4) suffix += hex[r & 15];
    return table.substr(0, 63 - suffix.size()) + suffix;
}

// Splits "schema.table"; a name without a schema is in the workspace's.
std::pair<std::string, std::string> SchemaAndTable(const std::string& table, const std::string& schema) {
    auto dot = table.find('.');
    if (dot == std::string::npos) return {schema, table};
    return {table.substr(0, dot), table.substr(dot + 1)};
}

// Runs work in the connection's transaction and commits it; rolls it back
// when the work or the commit fails.
void CommitOrRollBack(GDALDataset& connection, const std::string& table, const std::function<void()>& work) {
    try {
        work();
        if (connection.CommitTransaction() != OGRERR_NONE) RaiseGdal("The table " + table + " could not be committed");
    } catch (...) {
        connection.RollbackTransaction();
        throw;
    }
}

}  // namespace

std::shared_ptr<GDALDataset> ConnectPg(const PgConnection& connection, bool update) {
    EnsureGdal();
    LastGdalError();
    const char* drivers[] = {"PostgreSQL", nullptr};
    std::string text = connection.ToString();
    auto ds = WrapDataset(static_cast<GDALDataset*>(GDALOpenEx(
        text.c_str(), GDAL_OF_VECTOR | (update ? GDAL_OF_UPDATE : GDAL_OF_READONLY), drivers, nullptr, nullptr)));
    if (!ds) {
        std::string why = OneLineReason(LastGdalError());
        Raise(kErrInvalidCall, "Cannot connect to " + connection.Describe() + (why.empty() ? "" : ": " + why), "PXGIS");
    }
    return ds;
}

void ExecutePg(GDALDataset& connection, const std::string& sql, const std::string& what) {
    LastGdalError();
    OGRLayer* result = connection.ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (result) connection.ReleaseResultSet(result);
    std::string why = OneLineReason(LastGdalError());
    if (!why.empty()) Raise(kErrInvalidCall, what + ": " + why, "PXGIS");
}

std::vector<std::string> QueryPg(GDALDataset& connection, const std::string& sql) {
    LastGdalError();
    std::vector<std::string> rows;
    OGRLayer* result = connection.ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (!result) {
        std::string why = OneLineReason(LastGdalError());
        Raise(kErrInvalidCall, "The database could not answer: " + (why.empty() ? sql : why), "PXGIS");
    }
    while (OGRFeature* f = result->GetNextFeature()) {
        rows.push_back(f->GetFieldAsString(0));
        OGRFeature::DestroyFeature(f);
    }
    connection.ReleaseResultSet(result);
    return rows;
}

WorkspacePtr Workspace::OpenPostGIS(const std::string& connection, const std::string& tablePrefix) {
    auto c = PgConnection::Parse(connection);
    auto ws = std::make_shared<Workspace>();
    ws->kind_ = WorkspaceKind::PostGIS;
    ws->path_ = c.ToString();
    ws->prefix_ = tablePrefix;
    ws->db_ = ConnectPg(c, true);
    return ws;
}

Workspace::~Workspace() {
    // Datasets never committed go with their transactions.
    for (auto& [table, p] : pending_) p.connection->RollbackTransaction();
}

std::string Workspace::Describe() const {
    return kind_ == WorkspaceKind::PostGIS ? PgConnection::Parse(path_).Describe() : path_;
}

std::string Workspace::TableName(const std::string& name) const {
    if (prefix_.empty()) return name;
    std::string table;
    for (char c : LCase(prefix_ + name)) table += (std::isalnum(static_cast<unsigned char>(c)) || c == '_') ? c : '_';
    // Room for the suffix of a temporary name within PostgreSQL's 63 bytes.
    return table.substr(0, 48);
}

std::string Workspace::SqlName(const std::string& table) const {
    auto [schema, name] = SchemaAndTable(table, PgConnection::Parse(path_).Schema());
    return QuotePgIdentifier(schema) + "." + QuotePgIdentifier(name);
}

std::string Workspace::IntersectsCondition(const std::string& table, const std::string& shapeColumn,
                                           const Geometry& geometry) const {
    auto [schema, name] = SchemaAndTable(table, PgConnection::Parse(path_).Schema());
    char* wkt = nullptr;
    geometry.Ogr()->exportToWkt(&wkt);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    // The system's number as a constant: a function in the condition would
    // be called again for every row the index lets through.
    static std::map<std::string, std::string> srids;  // by database, schema, table and column
    std::string key = path_ + "|" + schema + "." + name + "." + shapeColumn;
    if (!srids.count(key)) {
        auto found = QueryPg(*db_, "SELECT Find_SRID(" + QuotePgLiteral(schema) + ", " + QuotePgLiteral(name) + ", " +
                                       QuotePgLiteral(shapeColumn) + ")");
        srids[key] = found.empty() ? "0" : std::to_string(std::atol(found.front().c_str()));
    }
    return "ST_Intersects(" + QuotePgIdentifier(shapeColumn) + ", ST_GeomFromText(" + QuotePgLiteral(text) + ", " +
           srids[key] + "))";
}

FeatureClassPtr Workspace::CreatePgFeatureClass(const std::string& name, const Fields& fields, const std::string& shapeField) {
    const GeometryDef& gd = fields.GetField(fields.FindField(shapeField))->geometryDef;
    std::string table = TableName(name);
    auto connection = ConnectInTransaction();
    std::string schema = SchemaAndTable(table, PgConnection::Parse(path_).Schema()).first;
    // The schema the analyst chose for the outputs is made on first use.
    if (QueryPg(*connection, "SELECT 1 FROM pg_namespace WHERE nspname = " + QuotePgLiteral(schema)).empty())
        ExecutePg(*connection, "CREATE SCHEMA " + QuotePgIdentifier(schema),
                  "The schema " + schema + " could not be created in " + Describe());
    std::string temporary = TemporaryName(SchemaAndTable(table, schema).second);
    std::string oid = "ogc_fid";
    for (long i = 0; i < fields.FieldCount(); ++i)
        if (fields.GetField(i)->type == kFieldOID) oid = fields.GetField(i)->name;
    std::string fidOpt = "FID=" + oid, geomOpt = "GEOMETRY_NAME=" + shapeField, schemaOpt = "SCHEMA=" + schema;
    // Field names as the analysis gives them ("Result", "PERCENT"), not
    // folded to lower case.
    const char* opts[] = {fidOpt.c_str(), geomOpt.c_str(), schemaOpt.c_str(), "LAUNDER=NO", nullptr};
    OGRSpatialReference* srs = gd.spatialReference ? &gd.spatialReference->Ogr() : nullptr;
    OGRLayer* layer = connection->CreateLayer(temporary.c_str(), srs, ToOgrGeomType(gd.type, true), const_cast<char**>(opts));
    if (!layer) RaiseGdal("The table " + table + " could not be created in " + Describe());
    AddOgrFields(layer, fields);
    pending_[table] = {connection, layer, temporary};
    auto self = std::static_pointer_cast<Workspace>(shared_from_this());
    return std::make_shared<Table>(self, temporary, connection, layer, shapeField);
}

void Workspace::CommitDataset(const std::string& name) {
    if (kind_ != WorkspaceKind::PostGIS) return;
    std::string table = TableName(name);
    auto it = pending_.find(table);
    if (it == pending_.end()) return;
    Pending p = it->second;
    pending_.erase(it);
    CommitOrRollBack(*p.connection, table, [&] {
        // Rows still on their way (GDAL copies them in) arrive first.
        p.layer->SyncToDisk();
        MoveTable(*p.connection, p.temporaryName, table);
    });
}

void Workspace::MoveTable(GDALDataset& connection, const std::string& from, const std::string& table) const {
    std::string bare = SchemaAndTable(table, "").second;
    ExecutePg(connection, "DROP TABLE IF EXISTS " + SqlName(table), "The table " + table + " could not be replaced");
    ExecutePg(connection, "ALTER TABLE " + SqlName(from) + " RENAME TO " + QuotePgIdentifier(bare),
              "The table " + table + " could not be put in place");
    // Its indexes and id sequence were named after the name it had.
    std::string schema = SchemaAndTable(table, PgConnection::Parse(path_).Schema()).first;
    std::string scratch = SchemaAndTable(from, "").second;
    for (auto& relation :
         QueryPg(connection, "SELECT c.relkind::text || c.relname::text FROM pg_class c JOIN pg_namespace n ON n.oid = "
                             "c.relnamespace WHERE n.nspname = " + QuotePgLiteral(schema) +
                                 " AND c.relkind IN ('i', 'S') AND starts_with(c.relname, " + QuotePgLiteral(scratch) + ")")) {
        std::string kind = relation[0] == 'i' ? "INDEX " : "SEQUENCE ";
        std::string name = relation.substr(1);
        ExecutePg(connection,
                  "ALTER " + kind + SqlName(schema + "." + name) + " RENAME TO " +
                      QuotePgIdentifier(bare + name.substr(scratch.size())),
                  "The table " + table + " could not be put in place");
    }
}

std::string Workspace::CopyName(const std::string& table) const {
    auto [schema, bare] = SchemaAndTable(table, PgConnection::Parse(path_).Schema());
    return schema + "." + TemporaryName(bare, "_old_");
}

void Workspace::CopyTable(const std::string& table, const std::string& copy) {
    auto connection = ConnectInTransaction();
    std::string why = "The table " + table + " could not be copied";
    CommitOrRollBack(*connection, copy, [&] {
        // Indexes and all, but not the id's default: that is the original's
        // sequence, which goes with the original.
        ExecutePg(*connection,
                  "CREATE TABLE " + SqlName(copy) + " (LIKE " + SqlName(table) +
                      " INCLUDING ALL EXCLUDING DEFAULTS EXCLUDING IDENTITY)",
                  why);
        ExecutePg(*connection, "INSERT INTO " + SqlName(copy) + " SELECT * FROM " + SqlName(table), why);
        // A sequence of the copy's own for each serial column, named after
        // the copy so that it follows the copy's name when the copy is put
        // back: rows added to a restored table are numbered as before.
        auto [schema, bare] = SchemaAndTable(copy, "");
        for (auto& column : QueryPg(*connection,
                                    "SELECT a.attname::text FROM pg_attribute a JOIN pg_attrdef d ON d.adrelid = "
                                    "a.attrelid AND d.adnum = a.attnum WHERE a.attrelid = " +
                                        QuotePgLiteral(SqlName(table)) + "::regclass AND pg_get_expr(d.adbin, "
                                                                         "d.adrelid) LIKE 'nextval(%'")) {
            std::string suffix = column.size() < 20 ? "_" + column + "_seq" : "_id_seq";
            std::string sequence = SqlName(schema + "." + bare.substr(0, 63 - suffix.size()) + suffix);
            std::string qualified = SqlName(copy) + "." + QuotePgIdentifier(column);
            ExecutePg(*connection, "CREATE SEQUENCE " + sequence + " OWNED BY " + qualified, why);
            ExecutePg(*connection,
                      "ALTER TABLE " + SqlName(copy) + " ALTER COLUMN " + QuotePgIdentifier(column) +
                          " SET DEFAULT nextval(" + QuotePgLiteral(sequence) + "::regclass)",
                      why);
            QueryPg(*connection, "SELECT setval(" + QuotePgLiteral(sequence) + ", coalesce(max(" +
                                     QuotePgIdentifier(column) + "), 0) + 1, false) FROM " + SqlName(copy));
        }
    });
}

void Workspace::PutTableBack(const std::string& copy, const std::string& table) {
    auto connection = ConnectInTransaction();
    CommitOrRollBack(*connection, table, [&] { MoveTable(*connection, copy, table); });
}

std::shared_ptr<GDALDataset> Workspace::ConnectInTransaction() const {
    auto connection = ConnectPg(PgConnection::Parse(path_), true);
    if (connection->StartTransaction() != OGRERR_NONE) RaiseGdal("No transaction could be started in " + Describe());
    return connection;
}

}  // namespace host::gis
