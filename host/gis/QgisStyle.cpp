#include "host/gis/QgisStyle.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

#include "host/gis/GdalSupport.h"
#include "host/gis/PgConnection.h"
#include "host/gis/Table.h"
#include "host/gis/Workspace.h"
#include "host/platform/TextFile.h"

namespace fs = std::filesystem;

namespace host::gis {

namespace {

// The shortest text that reads back as the same double, with a point.
std::string Number(double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string Colour(Rgb c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ",255";
}

// One symbol layer's properties, written both ways QGIS reads them: the
// option map of QGIS 3.x and the older key/value list.
void AddProperties(pugi::xml_node layer, const std::vector<std::pair<std::string, std::string>>& props) {
    auto map = layer.append_child("Option");
    map.append_attribute("type") = "Map";
    for (auto& [k, v] : props) {
        auto o = map.append_child("Option");
        o.append_attribute("name") = k.c_str();
        o.append_attribute("type") = "QString";
        o.append_attribute("value") = v.c_str();
    }
    for (auto& [k, v] : props) {
        auto p = layer.append_child("prop");
        p.append_attribute("k") = k.c_str();
        p.append_attribute("v") = v.c_str();
    }
}

// The symbol that draws shapes of the type in the fill colour, with the
// renderer's outline; points and lines as our map draws them (a dot of
// 3.2 pixels' radius with a dark rim, a line of 1.6 pixels).
void AddSymbol(pugi::xml_node symbols, const std::string& name, const Renderer& r, Rgb fill, GeometryType shapeType) {
    auto symbol = symbols.append_child("symbol");
    bool point = shapeType == kGeomPoint || shapeType == kGeomMultipoint;
    bool line = shapeType == kGeomPolyline;
    symbol.append_attribute("type") = point ? "marker" : line ? "line" : "fill";
    symbol.append_attribute("name") = name.c_str();
    symbol.append_attribute("alpha") = "1";
    symbol.append_attribute("clip_to_extent") = "1";
    symbol.append_attribute("force_rhr") = "0";
    auto layer = symbol.append_child("layer");
    layer.append_attribute("class") = point ? "SimpleMarker" : line ? "SimpleLine" : "SimpleFill";
    layer.append_attribute("enabled") = "1";
    layer.append_attribute("locked") = "0";
    layer.append_attribute("pass") = "0";
    if (point)
        AddProperties(layer, {{"name", "circle"},
                              {"color", Colour(fill)},
                              {"size", "4.8"},
                              {"size_unit", "Point"},
                              {"outline_color", Colour({60, 60, 60})},
                              {"outline_style", "solid"},
                              {"outline_width", "0.6"},
                              {"outline_width_unit", "Point"}});
    else if (line)
        AddProperties(layer, {{"line_color", Colour(fill)},
                              {"line_style", "solid"},
                              {"line_width", "1.2"},
                              {"line_width_unit", "Point"},
                              {"joinstyle", "round"},
                              {"capstyle", "round"}});
    else
        AddProperties(layer, {{"color", Colour(fill)},
                              {"style", "solid"},
                              {"outline_color", Colour(r.outlineColor)},
                              {"outline_style", "solid"},
                              {"outline_width", Number(r.outlineWidth)},
                              {"outline_width_unit", "Point"},
                              {"joinstyle", "round"}});
}

std::string LayerName(const FeatureLayer& layer) {
    return layer.name.empty() ? layer.featureClass->Name() : layer.name;
}

// Now, in universal time.
std::tm Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

void SaveBesideShapefile(const Table& table, const std::string& qml) {
    fs::path path(table.DataPath());
    if (fs::is_directory(path)) path /= table.Name();
    path.replace_extension(".qml");
    if (!platform::WriteFileAtomically(path.string(), qml))
        Raise(kErrCannotCreate, "The QGIS style " + path.string() + " could not be written", "PXGIS");
}

// The table as QGIS's GeoPackage provider makes it.
OGRLayer* CreateGpkgStyleTable(GDALDataset& ds) {
    const char* options[] = {"FID=id", nullptr};
    OGRLayer* styles = ds.CreateLayer("layer_styles", nullptr, wkbNone, const_cast<char**>(options));
    if (!styles) return nullptr;
    struct Column {
        const char* name;
        OGRFieldType type;
        int width;
    };
    for (Column c : {Column{"f_table_catalog", OFTString, 256}, Column{"f_table_schema", OFTString, 256},
                     Column{"f_table_name", OFTString, 256}, Column{"f_geometry_column", OFTString, 256},
                     Column{"styleName", OFTString, 30}, Column{"styleQML", OFTString, 0},
                     Column{"styleSLD", OFTString, 0}, Column{"useAsDefault", OFTInteger, 0},
                     Column{"description", OFTString, 0}, Column{"owner", OFTString, 30}, Column{"ui", OFTString, 30},
                     Column{"update_time", OFTDateTime, 0}}) {
        OGRFieldDefn f(c.name, c.type);
        f.SetWidth(c.width);
        if (c.type == OFTInteger) f.SetSubType(OFSTBoolean);
        if (c.type == OFTDateTime) f.SetDefault("CURRENT_TIMESTAMP");
        if (styles->CreateField(&f) != OGRERR_NONE) return nullptr;
    }
    return styles;
}

void SaveInGeoPackage(const Table& table, const std::string& styleName, const std::string& description,
                      const std::string& qml) {
    GDALDataset* ds = table.OgrDataset();
    OGRLayer* user = table.OgrLayer();
    std::string what = "The QGIS style of " + table.Name() + " could not be written into " + table.DataPath();
    if (!ds || !user) Raise(kErrCannotCreate, what, "PXGIS");
    std::string name = user->GetName(), geometry = user->GetGeometryColumn();
    bool transaction = ds->StartTransaction() == OGRERR_NONE;
    try {
        OGRLayer* styles = ds->GetLayerByName("layer_styles");
        if (!styles) styles = CreateGpkgStyleTable(*ds);
        if (!styles) RaiseGdal(what);
        OGRFeatureDefn* defn = styles->GetLayerDefn();
        // A table of that name made for something else is left alone.
        for (const char* column : {"f_table_schema", "f_table_name", "f_geometry_column", "styleName", "styleQML",
                                   "useAsDefault"})
            if (defn->GetFieldIndex(column) < 0)
                Raise(kErrCannotCreate, what + ": its table layer_styles has no column " + column, "PXGIS");
        // The layer's rows: the one of this name is replaced, the others
        // are no longer its default.
        auto quote = [](const std::string& s) {
            std::string q = "'";
            for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
            return q + "'";
        };
        std::string filter = "f_table_schema = '' AND f_table_name = " + quote(name) +
                             " AND f_geometry_column = " + quote(geometry);
        if (styles->SetAttributeFilter(filter.c_str()) != OGRERR_NONE) RaiseGdal(what);
        std::vector<std::unique_ptr<OGRFeature>> rows;
        styles->ResetReading();
        while (OGRFeature* f = styles->GetNextFeature()) rows.emplace_back(f);
        styles->SetAttributeFilter(nullptr);
        std::unique_ptr<OGRFeature> row;
        for (auto& f : rows) {
            if (!row && styleName == f->GetFieldAsString(defn->GetFieldIndex("styleName"))) {
                row = std::move(f);
            } else if (f->GetFieldAsInteger(defn->GetFieldIndex("useAsDefault"))) {
                f->SetField(defn->GetFieldIndex("useAsDefault"), 0);
                if (styles->SetFeature(f.get()) != OGRERR_NONE) RaiseGdal(what);
            }
        }
        bool fresh = !row;
        if (fresh) row.reset(OGRFeature::CreateFeature(defn));
        std::tm now = Now();
        row->SetField(defn->GetFieldIndex("f_table_catalog"), "");
        row->SetField(defn->GetFieldIndex("f_table_schema"), "");
        row->SetField(defn->GetFieldIndex("f_table_name"), name.c_str());
        row->SetField(defn->GetFieldIndex("f_geometry_column"), geometry.c_str());
        row->SetField(defn->GetFieldIndex("styleName"), styleName.c_str());
        row->SetField(defn->GetFieldIndex("styleQML"), qml.c_str());
        row->SetField(defn->GetFieldIndex("styleSLD"), "");
        row->SetField(defn->GetFieldIndex("useAsDefault"), 1);
        row->SetField(defn->GetFieldIndex("description"), description.c_str());
        row->SetField(defn->GetFieldIndex("owner"), "");
        row->SetField(defn->GetFieldIndex("update_time"), now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
                      now.tm_min, float(now.tm_sec), 100);
        OGRErr err = fresh ? styles->CreateFeature(row.get()) : styles->SetFeature(row.get());
        if (err != OGRERR_NONE) RaiseGdal(what);
        if (transaction && ds->CommitTransaction() != OGRERR_NONE) RaiseGdal(what);
    } catch (...) {
        if (transaction) ds->RollbackTransaction();
        throw;
    }
}

void SaveInDatabase(const Table& table, const std::string& styleName, const std::string& description,
                    const std::string& qml) {
    auto ws = table.GetWorkspace();
    auto connection = PgConnection::Parse(ws->PathName());
    std::string schema = connection.Schema(), name = table.Name();
    if (auto dot = name.find('.'); dot != std::string::npos) {
        schema = name.substr(0, dot);
        name = name.substr(dot + 1);
    }
    std::string what = "The QGIS style of " + schema + "." + name + " could not be written into " + connection.Describe();
    auto db = ConnectPg(connection, true);
    // The shape column as the database knows it, which is the name QGIS
    // looks the style up by.
    auto columns = QueryPg(*db, "SELECT f_geometry_column::text FROM geometry_columns WHERE f_table_schema = " +
                                    QuotePgLiteral(schema) + " AND f_table_name = " + QuotePgLiteral(name));
    if (columns.empty()) Raise(kErrCannotCreate, what + ": the table has no shape column", "PXGIS");
    if (db->StartTransaction() != OGRERR_NONE) RaiseGdal(what);
    try {
        // Runs of other analyses may make the table at the same moment.
        QueryPg(*db, "SELECT 1 FROM (SELECT pg_advisory_xact_lock(hashtext('public.layer_styles'))) AS l");
        // QGIS reads "layer_styles" by the search path of a plain login,
        // which ends in "public"; the table as QGIS makes it.
        ExecutePg(*db,
                  "CREATE TABLE IF NOT EXISTS public.layer_styles(id SERIAL PRIMARY KEY, f_table_catalog varchar, "
                  "f_table_schema varchar, f_table_name varchar, f_geometry_column varchar, styleName text, "
                  "styleQML xml, styleSLD xml, useAsDefault boolean, description text, owner varchar(63) DEFAULT "
                  "CURRENT_USER, ui xml, update_time timestamp DEFAULT CURRENT_TIMESTAMP, type varchar)",
                  what);
        std::string layer = " WHERE f_table_catalog = current_database() AND f_table_schema = " + QuotePgLiteral(schema) +
                            " AND f_table_name = " + QuotePgLiteral(name) +
                            " AND f_geometry_column = " + QuotePgLiteral(columns.front());
        ExecutePg(*db, "DELETE FROM public.layer_styles" + layer + " AND styleName = " + QuotePgLiteral(styleName), what);
        ExecutePg(*db, "UPDATE public.layer_styles SET useAsDefault = false" + layer, what);
        // The column "type" (the kind of shapes) is left empty: QGIS takes
        // such a row for a layer of any kind, also one whose source names
        // no kind, and a table that older versions made has no such column.
        ExecutePg(*db,
                  "INSERT INTO public.layer_styles(f_table_catalog, f_table_schema, f_table_name, f_geometry_column, "
                  "styleName, styleQML, useAsDefault, description, update_time) VALUES (current_database(), " +
                      QuotePgLiteral(schema) + ", " + QuotePgLiteral(name) + ", " + QuotePgLiteral(columns.front()) +
                      ", " + QuotePgLiteral(styleName) + ", XMLPARSE(DOCUMENT " + QuotePgLiteral(qml) + "), true, " +
                      QuotePgLiteral(description) + ", CURRENT_TIMESTAMP)",
                  what);
        if (db->CommitTransaction() != OGRERR_NONE) RaiseGdal(what);
    } catch (...) {
        db->RollbackTransaction();
        throw;
    }
}

}  // namespace

std::string QgisStyleQml(const Renderer& renderer, GeometryType shapeType) {
    pugi::xml_document doc;
    doc.append_child(pugi::node_doctype).set_value("qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'");
    auto qgis = doc.append_child("qgis");
    qgis.append_attribute("version") = "3.22.0";
    qgis.append_attribute("styleCategories") = "Symbology";
    auto r = qgis.append_child("renderer-v2");
    r.append_attribute("forceraster") = "0";
    r.append_attribute("symbollevels") = "0";
    r.append_attribute("enableorderby") = "0";
    r.append_attribute("referencescale") = "-1";
    if (auto* simple = dynamic_cast<const SimpleRenderer*>(&renderer)) {
        r.append_attribute("type") = "singleSymbol";
        AddSymbol(r.append_child("symbols"), "0", renderer, simple->fill, shapeType);
    } else if (auto* breaks = dynamic_cast<const ClassBreaksRenderer*>(&renderer)) {
        r.append_attribute("type") = "graduatedSymbol";
        r.append_attribute("attr") = breaks->field.c_str();
        r.append_attribute("graduatedMethod") = "GraduatedColor";
        auto ranges = r.append_child("ranges");
        auto symbols = r.append_child("symbols");
        size_t n = std::min(breaks->breaks.size(), breaks->colors.size());
        for (size_t i = 0; i < n; ++i) {
            std::string name = std::to_string(i);
            auto range = ranges.append_child("range");
            range.append_attribute("symbol") = name.c_str();
            range.append_attribute("lower") = Number(i == 0 ? breaks->minimum : breaks->breaks[i - 1]).c_str();
            range.append_attribute("upper") = Number(breaks->breaks[i]).c_str();
            range.append_attribute("label") = i < breaks->labels.size() ? breaks->labels[i].c_str() : "";
            range.append_attribute("render") = "true";
            AddSymbol(symbols, name, renderer, breaks->colors[i], shapeType);
        }
        // The bounds are the classes' own, not to be classified again.
        auto method = r.append_child("classificationMethod");
        method.append_attribute("id") = "Custom";
    } else {
        Raise(kErrInvalidCall, "A " + renderer.TypeName() + " has no QGIS style", "PXGIS");
    }
    bool point = shapeType == kGeomPoint || shapeType == kGeomMultipoint;
    qgis.append_child("layerGeometryType").text() = point ? "0" : shapeType == kGeomPolyline ? "1" : "2";
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    return out.str();
}

void SaveQgisStyle(const FeatureLayer& layer) {
    if (!layer.renderer || !layer.featureClass) return;
    const Table& table = *layer.featureClass;
    auto ws = table.GetWorkspace();
    if (!ws) return;
    std::string qml = QgisStyleQml(*layer.renderer, table.ShapeType());
    std::string name = LayerName(layer);
    std::string description = name + ", as plexa draws it";
    switch (ws->Kind()) {
    case WorkspaceKind::Folder:
        SaveBesideShapefile(table, qml);
        break;
    case WorkspaceKind::GeoPackage:
        SaveInGeoPackage(table, name, description, qml);
        break;
    case WorkspaceKind::PostGIS:
        SaveInDatabase(table, name, description, qml);
        break;
    case WorkspaceKind::File:
        break;
    }
}

}  // namespace host::gis
