// The QGIS style of an output read back as XML (renderer, colours, outline,
// class bounds and labels exactly as the renderers the analyses build), and
// saved where QGIS looks for it: the .qml beside a shapefile and the table
// "layer_styles" of a GeoPackage, replaced by a re-run.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>

#include "PXCP/PXCPDemographicData.h"
#include "PXCP/PXCPHouseholdData.h"
#include "TestSupport.h"
#include "host/gis/Cursor.h"
#include "host/gis/QgisStyle.h"
#include "host/gis/Workspace.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

std::string Colour(gis::Rgb c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ",255";
}

// A symbol layer's property as QGIS 3 reads it (the option map), after
// checking that the older key/value list says the same.
std::string Property(pugi::xml_node layer, const std::string& key) {
    std::string option =
        layer.child("Option").find_child_by_attribute("Option", "name", key.c_str()).attribute("value").value();
    std::string prop = layer.find_child_by_attribute("prop", "k", key.c_str()).attribute("v").value();
    EXPECT_EQ(option, prop) << key;
    return option;
}

pugi::xml_node Renderer(const pugi::xml_document& doc) { return doc.child("qgis").child("renderer-v2"); }

pugi::xml_node SymbolLayer(pugi::xml_node renderer, const std::string& name) {
    return renderer.child("symbols").find_child_by_attribute("symbol", "name", name.c_str()).child("layer");
}

void Parse(const std::string& qml, pugi::xml_document& doc) {
    auto parsed = doc.load_string(qml.c_str());
    ASSERT_TRUE(parsed) << parsed.description() << "\n" << qml;
}

// An analysis output of squares with the given shares in "PERCENT",
// committed as a run leaves it.
gis::FeatureClassPtr WriteOutput(const gis::WorkspacePtr& ws, const std::vector<double>& shares) {
    gis::Fields fields;
    auto shape = gis::NewField("shape", gis::kFieldGeometry, "geometry");
    shape->geometryDef.type = gis::kGeomPolygon;
    shape->geometryDef.spatialReference = gis::SpatialReference::FromEPSG(4267);
    fields.AddField(shape);
    fields.AddField(gis::NewField("KEY", gis::kFieldString, "KEY", 10));
    fields.AddField(gis::NewField("PERCENT", gis::kFieldDouble, "PERCENT", 0, 18, 11));
    {
        auto fc = ws->CreateFeatureClass("Result", fields, "shape");
        auto insert = fc->Insert(true);
        auto row = insert->CreateBuffer();
        for (size_t i = 0; i < shares.size(); ++i) {
            double x = -80.0 + double(i);
            row->SetShape(*gis::Geometry::MakeEnvelopePolygon({x, 35, x + 0.5, 35.5, false},
                                                              shape->geometryDef.spatialReference));
            row->SetValue(fc->FindField("KEY"), std::to_string(37001 + 2 * i));
            row->SetValue(fc->FindField("PERCENT"), shares[i]);
            insert->Insert(*row);
        }
        insert->Flush();
    }
    ws->CommitDataset("Result");
    return ws->OpenFeatureClass("Result");
}

const std::vector<double> kShares = {0.1, 0.2, 0.30000000000000004, 12.5, 12.5, 33.3, 47.25, 50, 61.8, 99.99, 7, 3.14159};

gis::FeatureLayer HouseholdLayer(const gis::FeatureClassPtr& fc, const std::string& name) {
    gis::FeatureLayer layer;
    layer.featureClass = fc;
    layer.name = name;
    layer.renderer = pxcp::PXCPHouseholdData::CreateRenderer(fc, fc->FindField("PERCENT"));
    return layer;
}

std::unique_ptr<GDALDataset> ReadBack(const std::string& path) {
    return std::unique_ptr<GDALDataset>(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
}

struct StyleRow {
    std::string table, geometry, name, qml;
    bool isDefault;
};

std::vector<StyleRow> StyleRows(const std::string& gpkg) {
    std::vector<StyleRow> rows;
    auto ds = ReadBack(gpkg);
    if (!ds) return rows;
    OGRLayer* styles = ds->GetLayerByName("layer_styles");
    if (!styles) return rows;
    for (auto& f : *styles)
        rows.push_back({f->GetFieldAsString("f_table_name"), f->GetFieldAsString("f_geometry_column"),
                        f->GetFieldAsString("styleName"), f->GetFieldAsString("styleQML"),
                        f->GetFieldAsInteger("useAsDefault") != 0});
    return rows;
}

}  // namespace

TEST(QgisStyle, ADemographicResultIsTheGreenSingleSymbolWithItsOutline) {
    auto renderer = pxcp::PXCPDemographicData::CreateSimpleRenderer();
    auto& simple = dynamic_cast<const gis::SimpleRenderer&>(*renderer);
    pugi::xml_document doc;
    Parse(gis::QgisStyleQml(*renderer, gis::kGeomPolygon), doc);
    auto r = Renderer(doc);
    EXPECT_STREQ(r.attribute("type").value(), "singleSymbol");
    auto symbol = r.child("symbols").child("symbol");
    EXPECT_STREQ(symbol.attribute("type").value(), "fill");
    auto layer = symbol.child("layer");
    EXPECT_STREQ(layer.attribute("class").value(), "SimpleFill");
    EXPECT_EQ(Property(layer, "color"), Colour(simple.fill));
    EXPECT_EQ(Property(layer, "color"), "0,255,0,255");
    EXPECT_EQ(Property(layer, "style"), "solid");
    EXPECT_EQ(Property(layer, "outline_color"), Colour(simple.outlineColor));
    EXPECT_EQ(std::strtod(Property(layer, "outline_width").c_str(), nullptr), simple.outlineWidth);
    EXPECT_EQ(Property(layer, "outline_width_unit"), "Point");
    EXPECT_STREQ(doc.child("qgis").child_value("layerGeometryType"), "2");
    // A layer of points or lines gets a symbol of its kind, in the colour.
    Parse(gis::QgisStyleQml(*renderer, gis::kGeomPoint), doc);
    EXPECT_STREQ(Renderer(doc).child("symbols").child("symbol").attribute("type").value(), "marker");
    EXPECT_EQ(Property(SymbolLayer(Renderer(doc), "0"), "color"), "0,255,0,255");
    Parse(gis::QgisStyleQml(*renderer, gis::kGeomPolyline), doc);
    EXPECT_STREQ(Renderer(doc).child("symbols").child("symbol").attribute("type").value(), "line");
    EXPECT_EQ(Property(SymbolLayer(Renderer(doc), "0"), "line_color"), "0,255,0,255");
}

TEST(QgisStyle, AHouseholdResultIsItsClassesOfPercentWithTheirExactBoundsLabelsAndColours) {
    ScratchDir dir;
    auto fc = WriteOutput(gis::Workspace::OpenFolder(dir.Path().string()), kShares);
    auto layer = HouseholdLayer(fc, "Young families");
    auto& breaks = dynamic_cast<const gis::ClassBreaksRenderer&>(*layer.renderer);
    ASSERT_EQ(breaks.breaks.size(), 5u);
    pugi::xml_document doc;
    Parse(gis::QgisStyleQml(breaks, fc->ShapeType()), doc);
    auto r = Renderer(doc);
    EXPECT_STREQ(r.attribute("type").value(), "graduatedSymbol");
    EXPECT_STREQ(r.attribute("attr").value(), "PERCENT");
    size_t i = 0;
    for (auto range : r.child("ranges").children("range")) {
        ASSERT_LT(i, breaks.breaks.size());
        // The bounds read back as the very numbers the map classes by, so
        // that no area falls between two classes.
        double lower = i == 0 ? breaks.minimum : breaks.breaks[i - 1];
        EXPECT_EQ(std::strtod(range.attribute("lower").value(), nullptr), lower) << i;
        EXPECT_EQ(std::strtod(range.attribute("upper").value(), nullptr), breaks.breaks[i]) << i;
        EXPECT_EQ(range.attribute("label").value(), breaks.labels[i]);
        auto symbol = SymbolLayer(r, range.attribute("symbol").value());
        EXPECT_EQ(Property(symbol, "color"), Colour(breaks.colors[i])) << i;
        EXPECT_EQ(Property(symbol, "outline_color"), Colour(breaks.outlineColor));
        EXPECT_EQ(std::strtod(Property(symbol, "outline_width").c_str(), nullptr), breaks.outlineWidth);
        ++i;
    }
    EXPECT_EQ(i, 5u);
    EXPECT_EQ(breaks.minimum, 0.1);
    EXPECT_EQ(breaks.breaks.back(), 99.99);
    // Light to dark green.
    EXPECT_EQ(Property(SymbolLayer(r, "0"), "color"), "230,254,230,255");
    EXPECT_EQ(Property(SymbolLayer(r, "4"), "color"), "23,118,21,255");
}

TEST(QgisStyle, ARendererWithoutAQgisFormIsRefused) {
    struct Unknown : gis::Renderer {
        gis::Rgb FillFor(const gis::Row&) const override { return {}; }
    } unknown;
    EXPECT_THROW(gis::QgisStyleQml(unknown, gis::kGeomPolygon), std::exception);
}

TEST(QgisStyle, NamesAndLabelsAreEscaped) {
    gis::ClassBreaksRenderer r;
    r.field = "PERCENT";
    r.breaks = {1.5, 2};
    r.colors = {{1, 2, 3}, {4, 5, 6}};
    r.labels = {"< 1,5 & \"wenig\"", "Größer – 2"};
    pugi::xml_document doc;
    Parse(gis::QgisStyleQml(r, gis::kGeomPolygon), doc);
    auto ranges = Renderer(doc).child("ranges");
    EXPECT_STREQ(ranges.first_child().attribute("label").value(), "< 1,5 & \"wenig\"");
    EXPECT_STREQ(ranges.last_child().attribute("label").value(), "Größer – 2");
}

TEST(QgisStyle, TheStyleOfAShapefileIsTheQmlBesideIt) {
    ScratchDir dir;
    auto fc = WriteOutput(gis::Workspace::OpenFolder(dir.Path().string()), kShares);
    auto layer = HouseholdLayer(fc, "Young families");
    gis::SaveQgisStyle(layer);
    std::ifstream in(dir / "Result.qml");
    std::stringstream qml;
    qml << in.rdbuf();
    EXPECT_EQ(qml.str(), gis::QgisStyleQml(*layer.renderer, gis::kGeomPolygon));
    // A re-run that draws the layer otherwise replaces it whole.
    layer.renderer = pxcp::PXCPHouseholdData::CreateSimpleRenderer();
    gis::SaveQgisStyle(layer);
    std::ifstream again(dir / "Result.qml");
    std::stringstream replaced;
    replaced << again.rdbuf();
    EXPECT_EQ(replaced.str(), gis::QgisStyleQml(*layer.renderer, gis::kGeomPolygon));
    for (auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(e.path().filename().string().rfind("Result.", 0), 0u) << e.path() << " left behind";
}

TEST(QgisStyle, TheStyleOfAGeoPackageTableIsItsOneDefaultRowOfLayerStyles) {
    ScratchDir dir;
    auto created = gis::Workspace::CreateGeoPackage(dir.Path().string(), "Result.gpkg");
    auto ws = gis::Workspace::OpenGeoPackage(created->PathName());
    auto fc = WriteOutput(ws, kShares);
    std::string path = fc->DataPath();
    auto layer = HouseholdLayer(fc, "Young families");
    gis::SaveQgisStyle(layer);
    auto rows = StyleRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].table, "Result");
    EXPECT_EQ(rows[0].geometry, fc->OgrLayer()->GetGeometryColumn());
    EXPECT_EQ(rows[0].name, "Young families");
    EXPECT_TRUE(rows[0].isDefault);
    EXPECT_EQ(rows[0].qml, gis::QgisStyleQml(*layer.renderer, gis::kGeomPolygon));
    // The layer_styles table is as QGIS makes it.
    {
        auto ds = ReadBack(path);
        OGRFeatureDefn* defn = ds->GetLayerByName("layer_styles")->GetLayerDefn();
        for (const char* column : {"f_table_catalog", "f_table_schema", "f_table_name", "f_geometry_column", "styleName",
                                   "styleQML", "styleSLD", "useAsDefault", "description", "owner", "ui", "update_time"})
            EXPECT_GE(defn->GetFieldIndex(column), 0) << column;
        EXPECT_EQ(defn->GetFieldDefn(defn->GetFieldIndex("useAsDefault"))->GetSubType(), OFSTBoolean);
        EXPECT_EQ(defn->GetFieldDefn(defn->GetFieldIndex("update_time"))->GetType(), OFTDateTime);
    }
    // The same analysis again replaces its row; a style of another name
    // stays, no longer the default.
    gis::SaveQgisStyle(layer);
    EXPECT_EQ(StyleRows(path).size(), 1u);
    layer.name = "Young families again";
    layer.renderer = pxcp::PXCPHouseholdData::CreateSimpleRenderer();
    gis::SaveQgisStyle(layer);
    rows = StyleRows(path);
    ASSERT_EQ(rows.size(), 2u);
    int defaults = 0;
    for (auto& row : rows) {
        if (!row.isDefault) continue;
        ++defaults;
        EXPECT_EQ(row.name, "Young families again");
    }
    EXPECT_EQ(defaults, 1);
    // The output itself is untouched.
    EXPECT_EQ(ws->OpenFeatureClass("Result")->RowCount(nullptr), long(kShares.size()));
}

TEST(QgisStyle, ATableLayerStylesOfAnotherKindIsLeftAloneWithOneClearLine) {
    ScratchDir dir;
    std::string path;
    {
        auto created = gis::Workspace::CreateGeoPackage(dir.Path().string(), "Result.gpkg");
        path = WriteOutput(gis::Workspace::OpenGeoPackage(created->PathName()), kShares)->DataPath();
    }
    {
        auto ds = std::unique_ptr<GDALDataset>(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        OGRLayer* other = ds->CreateLayer("layer_styles", nullptr, wkbNone, nullptr);
        OGRFieldDefn note("note", OFTString);
        ASSERT_EQ(other->CreateField(&note), OGRERR_NONE);
    }
    auto layer = HouseholdLayer(gis::Workspace::OpenGeoPackage(path)->OpenFeatureClass("Result"), "Young families");
    std::string error;
    try {
        gis::SaveQgisStyle(layer);
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_NE(error.find("The QGIS style of Result could not be written"), std::string::npos) << error;
    EXPECT_NE(error.find("no column f_table_schema"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    layer = {};
    auto ds = ReadBack(path);
    EXPECT_EQ(ds->GetLayerByName("layer_styles")->GetFeatureCount(), 0);
    EXPECT_EQ(ds->GetLayerByName("Result")->GetFeatureCount(), long(kShares.size()));
}
