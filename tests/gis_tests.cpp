// The GIS layer over GDAL: workspaces, feature classes, cursors, indexes.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "host/gis/Gis.h"
#include "host/gis/Map.h"
#include "host/gis/MapDrawing.h"
#include "host/gis/PointIndex.h"

#include <ogr_geometry.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <tuple>

using namespace host;
using namespace host::gis;

namespace {

Fields PolygonFields(bool withOid) {
    Fields f;
    if (withOid) f.AddField(NewField("OID", kFieldOID, "Object ID"));
    auto shape = NewField("shape", kFieldGeometry, "geometry");
    shape->geometryDef.type = kGeomPolygon;
    shape->geometryDef.spatialReference = SpatialReference::FromEPSG(4326);
    f.AddField(shape);
    f.AddField(NewField("NAME", kFieldString, "", 40));
    f.AddField(NewField("POP", kFieldDouble, "", 24, 16, 12));
    return f;
}

// A shape field of the type, in WGS 84, and nothing else yet.
Fields ShapeFields(GeometryType type) {
    Fields f;
    auto shape = NewField("shape", kFieldGeometry);
    shape->geometryDef.type = type;
    shape->geometryDef.spatialReference = SpatialReference::FromEPSG(4326);
    f.AddField(shape);
    return f;
}

void FillSquares(const FeatureClassPtr& fc, int n) {
    auto cur = fc->Insert(true);
    auto buf = cur->CreateBuffer();
    for (int i = 0; i < n; ++i) {
        Envelope e{double(i), 0, double(i) + 1, 1, false};
        buf->SetShape(*Geometry::MakeEnvelopePolygon(e));
        buf->SetValue(fc->FindField("NAME"), "sq" + std::to_string(i));
        buf->SetValue(fc->FindField("POP"), 1000.0 * i + 0.25);
        cur->Insert(*buf);
    }
    cur->Flush();
}

class WorkspaceKinds : public ::testing::TestWithParam<bool> {};

TEST_P(WorkspaceKinds, CreateInsertSearchAndDelete) {
    pxtest::ScratchDir dir;
    bool gpkg = GetParam();
    auto ws = gpkg ? Workspace::CreateGeoPackage(dir.Path().string(), "out") : Workspace::OpenFolder(dir.Path().string());
    auto fc = ws->CreateFeatureClass("squares", PolygonFields(gpkg), "shape");
    FillSquares(fc, 10);
    // Host field order: object id, shape, attributes.
    auto fields = fc->GetFields();
    EXPECT_EQ(fields->GetField(0)->type, kFieldOID);
    EXPECT_EQ(fields->GetField(1)->type, kFieldGeometry);
    EXPECT_EQ(fields->FindField("shape"), 1);
    EXPECT_EQ(fields->FindField("pop"), 3);
    EXPECT_EQ(fc->ShapeType(), kGeomPolygon);

    auto reopened = ws->OpenFeatureClass("squares");
    QueryFilter q;
    q.whereClause = " (POP>=(50.00/100)*10000) ";
    EXPECT_EQ(reopened->RowCount(&q), 5);
    q.geometry = Geometry::MakeEnvelopePolygon({2.5, 0.2, 4.5, 0.8, false}, SpatialReference::FromEPSG(4326));
    q.whereClause.clear();
    auto cur = reopened->Search(&q, false);
    std::vector<std::string> names;
    while (auto row = cur->NextRow()) names.push_back(row->Value(2).ToString());
    EXPECT_EQ(names, (std::vector<std::string>{"sq2", "sq3", "sq4"}));

    EXPECT_FALSE(reopened->HasSpatialIndex());
    reopened->AddIndex("Idx_1", reopened->ShapeFieldName());
    EXPECT_TRUE(reopened->HasSpatialIndex());

    q.whereClause = "NOPE > 1";
    EXPECT_THROW(reopened->Search(&q, false), RuntimeError);
    EXPECT_THROW(ws->CreateFeatureClass("squares", PolygonFields(gpkg), "shape"), RuntimeError);

    reopened->Close();
    fc->Close();
    ws->DeleteDataset("squares");
    EXPECT_FALSE(ws->DatasetExists("squares"));
}

INSTANTIATE_TEST_SUITE_P(FolderAndGeoPackage, WorkspaceKinds, ::testing::Values(false, true));

TEST(Gis, DbaseTablesHaveNoShape) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    Fields f;
    f.AddField(NewField("GEOG", kFieldString, "", 12));
    f.AddField(NewField("TOTAL", kFieldDouble));
    auto t = ws->CreateTable("tmp", f);
    auto cur = t->Insert(true);
    auto row = cur->CreateBuffer();
    row->SetValue(1, "37001");
    row->SetValue(2, 12.0);
    cur->Insert(*row);
    cur->Flush();
    t->Close();
    auto back = ws->OpenTable("tmp");
    EXPECT_FALSE(back->HasShape());
    EXPECT_EQ(back->RowCount(nullptr), 1);
    EXPECT_THROW(ws->OpenFeatureClass("tmp"), RuntimeError);
    EXPECT_THROW(Workspace::OpenFolder(dir / "nowhere"), RuntimeError);
}

TEST(Gis, DbaseFieldsKeepTheirLengthPrecisionAndScale) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    Fields f;
    f.AddField(NewField("READ", kFieldDouble, "", 11, 11, 0));
    f.AddField(NewField("SHARE", kFieldDouble, "", 20, 19, 2));
    f.AddField(NewField("AVG", kFieldDouble, "", 16, 15, 1));
    f.AddField(NewField("RATIO", kFieldDouble, "", 0, 16, 12));  // no length: the precision is the width
    f.AddField(NewField("ANY", kFieldDouble));                    // neither: room for any count
    f.AddField(NewField("TIGHT", kFieldDouble, "", 3, 3, 5));     // no room for the scale
    f.AddField(NewField("LABEL", kFieldString, "", 8));
    auto t = ws->CreateTable("widths", f);
    // Values are stored as the fields hold them; a longer text is cut to
    // the width, a character counting once, and the field is not widened.
    auto cur = t->Insert(true);
    auto row = cur->CreateBuffer();
    row->SetValue(1, 12345678901.0);
    row->SetValue(2, 100.0 / 3);
    row->SetValue(3, 21.26);
    row->SetValue(4, 0.123456789012345);
    row->SetValue(7, "Zürich-Nord");
    cur->Insert(*row);
    row->SetValue(7, "short");
    cur->Insert(*row);
    cur->Flush();
    t->Close();
    std::string dbf = dir / "widths.dbf";
    EXPECT_EQ(pxtest::DbfField(dbf, "READ"), std::make_tuple('N', 11, 0));
    EXPECT_EQ(pxtest::DbfField(dbf, "SHARE"), std::make_tuple('N', 20, 2));
    EXPECT_EQ(pxtest::DbfField(dbf, "AVG"), std::make_tuple('N', 16, 1));
    EXPECT_EQ(pxtest::DbfField(dbf, "RATIO"), std::make_tuple('N', 16, 12));
    EXPECT_EQ(pxtest::DbfField(dbf, "ANY"), std::make_tuple('N', 24, 8));
    EXPECT_EQ(pxtest::DbfField(dbf, "TIGHT"), std::make_tuple('N', 3, 1));
    EXPECT_EQ(pxtest::DbfField(dbf, "LABEL"), std::make_tuple('C', 8, 0));
    auto back = ws->OpenTable("widths");
    auto c = back->Search(nullptr, false);
    auto r = c->NextRow();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Value(1).ToDouble(), 12345678901.0);
    EXPECT_EQ(r->Value(2).ToDouble(), 33.33);
    EXPECT_EQ(r->Value(3).ToDouble(), 21.3);
    EXPECT_EQ(r->Value(4).ToDouble(), 0.123456789012);
    EXPECT_EQ(r->Value(7).ToString(), "Zürich-N");
    EXPECT_EQ(c->NextRow()->Value(7).ToString(), "short");
}

TEST(Gis, KeySearchesAgreeWithTheWhereClauseAndSeeNewRows) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    Fields f;
    f.AddField(NewField("GEOG", kFieldString, "", 12));
    f.AddField(NewField("N", kFieldInteger));
    auto t = ws->CreateTable("keys", f);
    auto add = [&](const std::string& key, long n) {
        auto cur = t->Insert(true);
        auto row = cur->CreateBuffer();
        row->SetValue(1, key);
        row->SetValue(2, n);
        cur->Insert(*row);
        cur->Flush();
    };
    add("A", 1);
    add("B", 2);
    add("A", 3);
    auto values = [&](const std::string& where) {
        QueryFilter q;
        q.whereClause = where;
        std::vector<long> out;
        auto c = t->Search(&q, false);
        while (auto r = c->NextRow()) out.push_back(r->Value(2).ToLong());
        return out;
    };
    EXPECT_EQ(values("GEOG = 'A'"), (std::vector<long>{1, 3}));
    EXPECT_EQ(values("GEOG = 'A' AND N > 1"), (std::vector<long>{3}));  // not a key search: the engine answers
    EXPECT_TRUE(values("GEOG = 'C'").empty());
    add("C", 4);  // the index follows new rows
    EXPECT_EQ(values("GEOG = 'C'"), (std::vector<long>{4}));
    EXPECT_EQ(values("N = '2'").size(), 1u);  // a number field goes to the engine
}

TEST(PointIndex, ShapefilePointsReadStraightAgreeWithTheCursor) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    Fields f = ShapeFields(kGeomPoint);
    f.AddField(NewField("N", kFieldInteger));
    auto fc = ws->CreateFeatureClass("pts", f, "shape");
    auto ins = fc->Insert(true);
    auto buf = ins->CreateBuffer();
    for (int i = 0; i < 5; ++i) {
        buf->SetShape(*Geometry::FromWkt("POINT (" + std::to_string(i * 1.5) + " -" + std::to_string(i) + ")"));
        buf->SetValue(2, i);
        ins->Insert(*buf);
    }
    ins->Flush();
    fc = ws->OpenFeatureClass("pts");
    ASSERT_EQ(fc->OgrLayer()->DeleteFeature(2), OGRERR_NONE);  // marked deleted in the table
    fc->OgrLayer()->SyncToDisk();
    std::vector<std::tuple<long, double, double>> a, b;
    ASSERT_TRUE(ReadShapefilePoints(*fc, [&](const OidPoint& p) { a.emplace_back(p.oid, p.x, p.y); }));
    auto c = fc->Search(nullptr, false);
    while (auto r = c->NextRow()) {
        auto* p = r->ShapeRef()->toPoint();
        b.emplace_back(r->OID(), p->getX(), p->getY());
    }
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.size(), 4u);
    if (pxtest::HaveSample()) {  // polygons are not for this path
        EXPECT_FALSE(ReadShapefilePoints(*Workspace::OpenFolder(pxtest::SampleDir())->OpenFeatureClass("nc"),
                                         [](const OidPoint&) {}));
    }
}

// The polygons read straight from a shapefile are those a search with the
// same box hands out: the same ids, rings and numbers, nulls, deleted rows
// and empty shapes included; a text field is not for this path.
TEST(PointIndex, ShapefilePolygonsReadStraightAgreeWithTheCursor) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    Fields f = ShapeFields(kGeomPolygon);
    f.AddField(NewField("POP", kFieldDouble, "", 12, 12, 0));
    f.AddField(NewField("SHARE", kFieldDouble, "", 12, 12, 3));
    f.AddField(NewField("NAME", kFieldString, "", 8));
    auto fc = ws->CreateFeatureClass("areas", f, "shape");
    auto ins = fc->Insert(true);
    auto buf = ins->CreateBuffer();
    const char* shapes[] = {"POLYGON ((0 0, 2 0, 2 2, 0 2, 0 0), (0.5 0.5, 1 0.5, 1 1, 0.5 0.5))",
                            "MULTIPOLYGON (((3 0, 4 0, 4 1, 3 0)), ((5 0, 6 0, 6 1, 5 0)))",
                            "POLYGON ((10 10, 11 10, 11 11, 10 10))", "POLYGON ((0 3, 1 3, 1 4, 0 3))",
                            "POLYGON ((-3 5, 3 6, -3 6, -3 5))"};
    for (int i = 0; i < 5; ++i) {
        buf->SetShape(*Geometry::FromWkt(shapes[i]));
        buf->SetValue(2, i == 1 ? Variant() : Variant(100.0 * i));
        buf->SetValue(3, 0.125 * i);
        buf->SetValue(4, "n" + std::to_string(i));
        ins->Insert(*buf);
    }
    ins->Flush();
    fc = ws->OpenFeatureClass("areas");
    ASSERT_EQ(fc->OgrLayer()->DeleteFeature(3), OGRERR_NONE);
    fc->OgrLayer()->SyncToDisk();
    // The box leaves out the polygon at 10 10 and only grazes the bounds of
    // the last one.
    Envelope box{-0.5, 0, 7, 5, false};
    auto straight = ShapefilePolygons::Open(*fc, {2, 3});
    ASSERT_TRUE(straight);
    std::vector<std::tuple<long, std::optional<double>, std::optional<double>, std::vector<double>>> a, b;
    PreparedPolygon prepared;
    while (straight->Next(box)) {
        prepared.Assign(straight->xy(), straight->partStarts());
        if (prepared.Intersects(box)) a.emplace_back(straight->Oid(), straight->Value(0), straight->Value(1), straight->xy());
    }
    QueryFilter q;
    q.geometry = Geometry::MakeEnvelopePolygon(box, nullptr);
    auto c = fc->Search(&q, false);
    while (auto r = c->NextRow()) {
        std::vector<double> xy;
        auto add = [&](const OGRLinearRing* ring) {
            for (int i = 0; i < ring->getNumPoints(); ++i) xy.insert(xy.end(), {ring->getX(i), ring->getY(i)});
        };
        auto* g = r->ShapeRef();
        if (wkbFlatten(g->getGeometryType()) == wkbPolygon) {
            for (auto* ring : *g->toPolygon()) add(ring);
        } else {
            for (auto* part : *g->toMultiPolygon())
                for (auto* ring : *part) add(ring);
        }
        auto value = [&](long i) { return r->Value(i).IsEmpty() ? std::optional<double>() : r->Value(i).ToDouble(); };
        b.emplace_back(r->OID(), value(2), value(3), xy);
    }
    EXPECT_EQ(a, b);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_FALSE(std::get<1>(a[1]));  // the null
    EXPECT_FALSE(ShapefilePolygons::Open(*fc, {4}));
}

TEST(Gis, SampleCountiesAnswerArithmeticWhereClauses) {
    if (!pxtest::HaveSample()) GTEST_SKIP() << "sample data not fetched";
    auto fc = Workspace::OpenFolder(pxtest::SampleDir())->OpenFeatureClass("nc");
    EXPECT_EQ(fc->RowCount(nullptr), 100);
    QueryFilter q;
    q.whereClause = " (SID74>=(0.30/100)*BIR74) ";
    EXPECT_EQ(fc->RowCount(&q), 18);
    EXPECT_TRUE(fc->GetSpatialReference()->IsGeographic());
    // A filter in another spatial reference is projected first.
    auto g = Geometry::MakeEnvelopePolygon({-79.1, 35.9, -78.9, 36.1, false}, SpatialReference::FromEPSG(4326));
    QueryFilter s;
    s.geometry = g;
    s.subFields = "NAME";
    std::vector<std::string> names;
    auto c = fc->Search(&s, false);
    while (auto r = c->NextRow()) names.push_back(r->Value(fc->FindField("NAME")).ToString());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Durham", "Orange"}));
}

TEST(Map, MoveAndDeleteLayersAndDrawAPicture) {
    pxtest::ScratchDir dir;
    auto ws = Workspace::OpenFolder(dir.Path().string());
    auto fc = ws->CreateFeatureClass("squares", PolygonFields(false), "shape");
    FillSquares(fc, 3);
    Map map;
    auto a = std::make_shared<FeatureLayer>();
    a->featureClass = fc;
    auto b = std::make_shared<FeatureLayer>();
    b->featureClass = fc;
    map.AddLayer(a);
    map.AddLayer(b);
    map.MoveLayer(b, 0);
    EXPECT_EQ(map.GetLayer(0), b);
    auto r = std::make_shared<SimpleRenderer>();
    r->fill = Rgb::FromPacked(65280);
    EXPECT_EQ(r->fill.g, 255);
    b->renderer = r;
    std::string png = dir / "map.png";
    RenderMapToPng(map, png, 300, 100);
    // Too small for a legend, the picture is all map: the three squares
    // fill it, and the layer moved to the top paints them green.
    GDALDatasetUniquePtr picture(GDALDataset::Open(png.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->GetRasterXSize(), 300);
    EXPECT_EQ(picture->GetRasterYSize(), 100);
    std::vector<int> rgb;
    for (int band = 1; band <= 3; ++band) {
        GByte v = 0;
        ASSERT_EQ(picture->GetRasterBand(band)->RasterIO(GF_Read, 150, 50, 1, 1, &v, 1, 1, GDT_Byte, 0, 0), CE_None);
        rgb.push_back(v);
    }
    EXPECT_EQ(rgb, (std::vector<int>{0, 255, 0}));
    map.DeleteLayer(a);
    EXPECT_EQ(map.LayerCount(), 1);
}

}  // namespace

// Point-in-polygon through the grid and the prepared polygon agrees with
// the geometry engine, holes, several parts and boundaries included.
TEST(PointIndex, AgreesWithTheGeometryEngine) {
    std::string ring;
    for (int k = 0; k < 60; ++k) {  // a star: enough edges for banding
        double a = 2 * M_PI * k / 60, r = k % 2 ? 4 : 10;
        ring += std::to_string(r * std::cos(a)) + " " + std::to_string(r * std::sin(a)) + ", ";
    }
    ring += std::to_string(10.0) + " 0";
    auto star = host::gis::Geometry::FromWkt("MULTIPOLYGON (((" + ring + "), (-1 -1, 1 -1, 1 1, -1 1, -1 -1)), "
                                             "((20 20, 30 20, 30 30, 20 30, 20 20)))");
    host::gis::PreparedPolygon prepared(*star->Ogr());
    std::vector<host::gis::PointGrid::Point> points;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-12, 32);
    for (uint32_t i = 0; i < 20000; ++i) points.push_back({u(rng), u(rng), i});
    points.push_back({25, 20, 20000});  // on an edge
    points.push_back({1, 0, 20001});    // on the hole's edge
    points.push_back({0, 0, 20002});    // in the hole
    host::gis::PointGrid grid(points);
    long agree = 0, inside = 0;
    std::vector<bool> seen(points.size());
    grid.ForEachNear(prepared.Bounds(), [&](const host::gis::PointGrid::Point& p) {
        seen[p.tag] = true;
        OGRPoint pt(p.x, p.y);
        bool want = star->Ogr()->Intersects(&pt);
        agree += prepared.Intersects(p.x, p.y) == want;
        inside += want;
    });
    long near = std::count(seen.begin(), seen.end(), true);
    EXPECT_EQ(agree, near);
    // Every point the engine puts in the polygons was offered by the grid.
    long engineInside = 0;
    for (auto& p : points) {
        OGRPoint pt(p.x, p.y);
        engineInside += star->Ogr()->Intersects(&pt);
    }
    EXPECT_EQ(inside, engineInside);
    EXPECT_TRUE(seen[20000] && prepared.Intersects(25, 20));
    EXPECT_TRUE(prepared.Intersects(1, 0));
    EXPECT_FALSE(prepared.Intersects(0, 0));
    // Every point in the polygons' bounds is offered by the grid.
    for (auto& p : points)
        if (prepared.Intersects(p.x, p.y)) {
            EXPECT_TRUE(seen[p.tag]);
        }

    // A damaged file may give a ring an infinite or undefined coordinate:
    // the polygon is still banded and asked without fault.
    std::vector<double> xy;
    for (int k = 0; k < 40; ++k) xy.insert(xy.end(), {std::cos(k / 6.4), std::sin(k / 6.4)});
    xy[3] = std::numeric_limits<double>::infinity();
    xy[7] = -std::numeric_limits<double>::infinity();
    xy[11] = std::nan("");
    prepared.Assign(xy, {0});
    for (double y : {0.0, 0.5, std::numeric_limits<double>::infinity(), std::nan("")}) (void)prepared.Intersects(0, y);
    // Points of the kind file the others where they belong.
    double inf = std::numeric_limits<double>::infinity();
    host::gis::PointGrid odd({{std::nan(""), 1, 0}, {1, 1, 1}, {inf, -inf, 2}, {3, 4, 3}, {2, std::nan(""), 4}});
    std::vector<uint32_t> found;
    odd.ForEachNear({0.5, 0.5, 1.5, 1.5, false}, [&](const host::gis::PointGrid::Point& p) {
        if (p.x == 1 && p.y == 1) found.push_back(p.tag);
    });
    EXPECT_EQ(found, std::vector<uint32_t>{1});
    EXPECT_EQ(odd.Bounds().xmax, 3);
}
