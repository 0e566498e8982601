// Layers from data files, the map's questions of them (extent, features in
// a rectangle, the feature under a point) and their export to GeoPackage
// and CSV, read back with GDAL.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "host/gis/LayerData.h"
#include "host/gis/LayerExport.h"

using namespace host;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

gis::FeatureLayerPtr Open(const std::string& file) {
    auto layers = gis::OpenDataFile(SampleDir() + "/" + file);
    EXPECT_EQ(layers.size(), 1u);
    return layers.front();
}

std::string Refusal(const std::string& path) {
    try {
        gis::OpenDataFile(path);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(accepted)";
}

// A dataset read back as GDAL opens it.
std::unique_ptr<GDALDataset> ReadBack(const std::string& path) {
    return std::unique_ptr<GDALDataset>(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
}

class LayerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveSample()) GTEST_SKIP() << "sample data not fetched";
    }
    ScratchDir dir;
};

TEST_F(LayerFiles, EveryLayerWithShapesOfAFileBecomesAMapLayer) {
    auto counties = Open("nc.shp");
    EXPECT_EQ(counties->name, "nc");
    EXPECT_EQ(counties->ShapeType(), gis::kGeomPolygon);
    // A GeoPackage of two layers gives both, named after them.
    std::string gpkg = dir / "two.gpkg";
    Translate(SampleDir() + "/nc.shp", gpkg, {"-f", "GPKG", "-nln", "counties"});
    Translate(SampleDir() + "/zipcodes.shp", gpkg, {"-update", "-nln", "zips", "-where", "STATE = 'NC'"});
    auto layers = gis::OpenDataFile(gpkg);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0]->name, "counties");
    EXPECT_EQ(layers[1]->name, "zips");
    EXPECT_EQ(layers[1]->ShapeType(), gis::kGeomPoint);
    // GeoJSON too.
    std::string json = dir / "zips.geojson";
    Translate(SampleDir() + "/zipcodes.shp", json, {"-f", "GeoJSON", "-where", "STATE = 'NC'"});
    EXPECT_EQ(gis::OpenDataFile(json).front()->ShapeType(), gis::kGeomPoint);
}

TEST_F(LayerFiles, LayersThatCannotBePlacedAreRefusedWithTheReason) {
    // Without its .prj the shapefile has no coordinate system.
    for (const char* ext : {".shp", ".shx", ".dbf"})
        fs::copy_file(SampleDir() + "/zipcodes" + ext, dir / (std::string("bare") + ext));
    EXPECT_NE(Refusal(dir / "bare.shp").find("has no coordinate system"), std::string::npos) << Refusal(dir / "bare.shp");
    std::ofstream(dir / "notes.txt") << "not a layer\n";
    EXPECT_NE(Refusal(dir / "notes.txt").find("cannot be read"), std::string::npos) << Refusal(dir / "notes.txt");
    EXPECT_NE(Refusal(dir / "missing.shp").find("missing.shp"), std::string::npos);
    // A table alone has nothing to draw.
    fs::copy_file(SampleDir() + "/nc.dbf", dir / "table.dbf");
    EXPECT_NE(Refusal(dir / "table.dbf").find("no layer with shapes"), std::string::npos) << Refusal(dir / "table.dbf");
}

TEST_F(LayerFiles, RectanglesAndPointsOfTheMapFindFeaturesInAnotherCoordinateSystem) {
    auto counties = Open("nc.shp");
    gis::Map map;
    map.AddLayer(counties);
    map.spatialReference = gis::SpatialReference::FromEPSG(3857);  // metres, not the layer's degrees
    gis::Envelope whole = gis::LayerExtentInMap(map, *counties);
    ASSERT_FALSE(whole.empty);
    EXPECT_GT(whole.Width(), 900000);  // about 9 degrees of longitude in metres
    EXPECT_EQ(gis::FeaturesInRectangle(map, *counties, whole).size(), 100u);

    // Wake County's middle, taken into the map's coordinates.
    auto row = counties->featureClass->Search(nullptr, false);
    long wake = -1;
    gis::GeometryPtr shape;
    while (auto r = row->NextRow())
        if (r->Value(r->GetFields()->FindField("NAME")).ToString() == "Wake") {
            wake = r->OID();
            shape = r->Shape();
        }
    ASSERT_GE(wake, 0);
    OGRPoint centre;
    ASSERT_EQ(shape->Ogr()->Centroid(&centre), OGRERR_NONE);
    auto middle = gis::Geometry::FromWkt(centre.exportToWkt(), counties->featureClass->GetSpatialReference());
    middle->Project(map.spatialReference);
    gis::Envelope m = middle->GetEnvelope();
    EXPECT_EQ(gis::FeatureAt(map, *counties, m.xmin, m.ymin, 10), wake);
    EXPECT_EQ(gis::FeaturesInRectangle(map, *counties, {m.xmin - 10, m.ymin - 10, m.xmin + 10, m.ymin + 10, false}),
              std::vector<long>{wake});
    // Out at sea there is nothing.
    EXPECT_EQ(gis::FeatureAt(map, *counties, whole.xmax + 50000, whole.ymin, 1000), -1);
}

TEST_F(LayerFiles, TheFullExtentTakesEachLayerIntoTheMapsCoordinates) {
    // The counties in degrees first, then the same counties in UTM metres:
    // the whole map is still North Carolina, in degrees (the metres' box
    // taken into degrees is a little wider than the counties).
    std::string utm = dir / "nc_utm.gpkg";
    Translate(SampleDir() + "/nc.shp", utm, {"-f", "GPKG", "-t_srs", "EPSG:32617"});
    gis::Map map;
    auto degrees = Open("nc.shp");
    map.AddLayer(degrees);
    auto metres = gis::OpenDataFile(utm).front();
    map.AddLayer(metres);
    gis::Envelope full = gis::FullExtentInMap(map);
    gis::Envelope own = degrees->Extent();
    ASSERT_FALSE(full.empty);
    EXPECT_NEAR(full.xmin, own.xmin, 0.25);
    EXPECT_NEAR(full.xmax, own.xmax, 0.25);
    EXPECT_NEAR(full.ymax, own.ymax, 0.25);
    // A hidden layer does not count; with only the metres shown, the map is in metres.
    degrees->visible = false;
    EXPECT_GT(gis::FullExtentInMap(map).Width(), 500000);
    metres->visible = false;
    EXPECT_TRUE(gis::FullExtentInMap(map).empty);
}

TEST_F(LayerFiles, FeatureAtTakesTheNearestPointWithinReach) {
    auto zips = Open("zipcodes.shp");
    gis::Map map;
    map.AddLayer(zips);
    auto first = zips->featureClass->GetRow(0)->Shape()->GetEnvelope();
    EXPECT_EQ(gis::FeatureAt(map, *zips, first.xmin + 1e-5, first.ymin, 0.001), 0);
    EXPECT_EQ(gis::FeatureAt(map, *zips, first.xmin + 1e-5, first.ymin, 1e-7), -1);
}

class LayerExport : public LayerFiles {};

TEST_F(LayerExport, AWholeLayerGoesToAGeoPackageWithItsFieldsAndSystem) {
    auto counties = Open("nc.shp");
    std::string out = dir / "Counties.GPKG";
    EXPECT_EQ(gis::ExportLayer(*counties, out, false), 100);
    auto ds = ReadBack(out);
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetLayerCount(), 1);
    OGRLayer* l = ds->GetLayer(0);
    EXPECT_STREQ(l->GetName(), "Counties");
    EXPECT_EQ(l->GetFeatureCount(), 100);
    EXPECT_EQ(wkbFlatten(l->GetGeomType()), wkbMultiPolygon);  // shapefile areas mix single and multi parts
    EXPECT_TRUE(l->GetSpatialRef()->IsSame(&counties->featureClass->GetSpatialReference()->Ogr()));
    EXPECT_EQ(l->GetLayerDefn()->GetFieldCount(), counties->featureClass->OgrLayer()->GetLayerDefn()->GetFieldCount());
    // Nothing of the writing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST_F(LayerExport, TheSelectionAloneGoesToCsvAsPointsOrWkt) {
    auto zips = Open("zipcodes.shp");
    zips->selection = {0, 7, 42};
    std::string csv = dir / "chosen.csv";
    EXPECT_EQ(gis::ExportLayer(*zips, csv, true), 3);
    auto ds = ReadBack(csv);
    ASSERT_TRUE(ds);
    OGRLayer* l = ds->GetLayer(0);
    EXPECT_EQ(l->GetFeatureCount(), 3);
    OGRFeatureDefn* d = l->GetLayerDefn();
    ASSERT_GE(d->GetFieldIndex("X"), 0);
    ASSERT_GE(d->GetFieldIndex("Y"), 0);
    // The rows are the selected features, with their places and values.
    std::vector<std::string> zipsRead;
    l->ResetReading();
    long i = 0;
    for (long oid : zips->selection) {
        std::unique_ptr<OGRFeature> f(l->GetNextFeature());
        ASSERT_TRUE(f);
        auto row = zips->featureClass->GetRow(oid);
        auto at = row->Shape()->GetEnvelope();
        EXPECT_NEAR(f->GetFieldAsDouble("X"), at.xmin, 1e-9);
        EXPECT_NEAR(f->GetFieldAsDouble("Y"), at.ymin, 1e-9);
        EXPECT_EQ(f->GetFieldAsString("ZIP"), row->Value(row->GetFields()->FindField("ZIP")).ToString());
        ++i;
    }
    EXPECT_EQ(i, 3);

    // Areas are written with their shape as WKT; an empty selection writes no rows.
    auto counties = Open("nc.shp");
    counties->selection = {5};
    ASSERT_EQ(gis::ExportLayer(*counties, dir / "one.csv", true), 1);
    std::ifstream in(dir / "one.csv");
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("WKT,", 0), 0u) << header;
    counties->selection.clear();
    EXPECT_EQ(gis::ExportLayer(*counties, dir / "none.gpkg", true), 0);
}

TEST_F(LayerExport, AnExistingFileIsReplacedWholeAndBadTargetsAreRefused) {
    auto counties = Open("nc.shp");
    std::string out = dir / "out.gpkg";
    gis::ExportLayer(*counties, out, false);
    counties->selection = {1, 2};
    EXPECT_EQ(gis::ExportLayer(*counties, out, true), 2);
    EXPECT_EQ(ReadBack(out)->GetLayer(0)->GetFeatureCount(), 2);
    EXPECT_THROW(gis::ExportLayer(*counties, dir / "out.shp", false), RuntimeError);
    EXPECT_THROW(gis::ExportLayer(*counties, dir / "no/such/folder/out.gpkg", false), RuntimeError);
    // Never over the file the layer is read from.
    auto copy = dir / "copy.gpkg";
    fs::copy_file(out, copy);
    auto own = gis::OpenDataFile(copy).front();
    EXPECT_THROW(gis::ExportLayer(*own, copy, false), RuntimeError);
    EXPECT_EQ(ReadBack(copy)->GetLayer(0)->GetFeatureCount(), 2);
}

}  // namespace
