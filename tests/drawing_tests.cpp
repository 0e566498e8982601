// Map pictures (PNG, PDF, pixels of the caller), read back the way a user
// would see them: pixels at the places the layout names, and the text
// pdftotext finds in the page.
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PXCP/PXCPHouseholdData.h"
#include "TestSupport.h"
#include "host/gis/MapDrawing.h"

namespace {

using namespace host::gis;
namespace fs = std::filesystem;

bool HavePdfToText() { return fs::exists("/usr/bin/pdftotext"); }

// Ten unit squares side by side, in WGS 84, with a PERCENT of 1 to 10.
FeatureClassPtr Squares(const pxtest::ScratchDir& dir) {
    Fields f;
    auto shape = NewField("shape", kFieldGeometry, "geometry");
    shape->geometryDef.type = kGeomPolygon;
    shape->geometryDef.spatialReference = SpatialReference::FromEPSG(4326);
    f.AddField(shape);
    f.AddField(NewField("PERCENT", kFieldDouble, "", 12, 10, 3));
    auto fc = Workspace::OpenFolder(dir.Path().string())->CreateFeatureClass("squares", f, "shape");
    auto cur = fc->Insert(true);
    auto buf = cur->CreateBuffer();
    for (int i = 0; i < 10; ++i) {
        buf->SetShape(*Geometry::MakeEnvelopePolygon({double(i), 50, i + 1.0, 51, false}));
        buf->SetValue(fc->FindField("PERCENT"), double(i + 1));
        cur->Insert(*buf);
    }
    cur->Flush();
    return fc;
}

// A map with the household result over the squares: the library's own five
// classes of PERCENT.
struct ResultMap {
    explicit ResultMap(const pxtest::ScratchDir& dir) {
        auto fc = Squares(dir);
        result->featureClass = fc;
        result->name = "Young families";
        result->renderer = pxcp::PXCPHouseholdData::CreateRenderer(fc, fc->FindField("PERCENT"));
        map.AddLayer(result);
    }
    Map map;
    FeatureLayerPtr result = std::make_shared<FeatureLayer>();
    const ClassBreaksRenderer& Classes() const { return dynamic_cast<const ClassBreaksRenderer&>(*result->renderer); }
};

// RGBA of a PNG, row by row.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::array<GByte, 4>> rgba;
    Rgb At(int x, int y) const {
        auto& p = rgba[size_t(y) * width + x];
        return {p[0], p[1], p[2]};
    }
};

Pixels ReadPng(const std::string& path) {
    Pixels out;
    GDALDatasetUniquePtr png(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    if (!png) return out;
    out.width = png->GetRasterXSize();
    out.height = png->GetRasterYSize();
    out.rgba.assign(size_t(out.width) * out.height, {0, 0, 0, 255});
    for (int band = 1; band <= std::min(4, png->GetRasterCount()); ++band) {
        std::vector<GByte> plane(out.rgba.size());
        if (png->GetRasterBand(band)->RasterIO(GF_Read, 0, 0, out.width, out.height, plane.data(), out.width, out.height,
                                               GDT_Byte, 0, 0) != CE_None)
            return {};
        for (size_t i = 0; i < plane.size(); ++i) out.rgba[i][band - 1] = plane[i];
    }
    return out;
}

bool Same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Rows of a box where the colour fills at least `run` pixels side by side.
std::vector<int> RowsFilled(const Pixels& px, const PictureBox& box, Rgb colour, int run) {
    std::vector<int> rows;
    for (int y = int(box.y); y < int(box.y + box.h) && y < px.height; ++y) {
        int longest = 0, now = 0;
        for (int x = int(box.x); x < int(box.x + box.w) && x < px.width; ++x) {
            now = Same(px.At(x, y), colour) ? now + 1 : 0;
            longest = std::max(longest, now);
        }
        if (longest >= run) rows.push_back(y);
    }
    return rows;
}

TEST(MapPicture, TheLegendShowsEveryClassInOrderAndTheMapItsAreas) {
    pxtest::ScratchDir dir;
    ResultMap m(dir);
    ASSERT_EQ(m.Classes().colors.size(), 5u);
    MapComposition c{"Young families", ""};
    std::string png = dir / "map.png";
    RenderMapToPng(m.map, png, 1000, 600, c);
    Pixels px = ReadPng(png);
    ASSERT_EQ(px.width, 1000);
    ASSERT_EQ(px.height, 600);
    PictureLayout L = LayoutMapPicture(m.map, c, 1000, 600);
    ASSERT_FALSE(L.legend.Empty());
    EXPECT_GE(L.legend.x, L.map.x + L.map.w);  // beside the map, not over it
    // Each class has a whole swatch in the legend, one below the other,
    // lightest first; the areas of that class are painted in the map.
    int previous = -1;
    for (size_t i = 0; i < m.Classes().colors.size(); ++i) {
        Rgb colour = m.Classes().colors[i];
        auto rows = RowsFilled(px, L.legend, colour, 15);
        ASSERT_GE(rows.size(), 8u) << "class " << i;
        EXPECT_GT(rows.front(), previous) << "class " << i;
        previous = rows.back();
        EXPECT_FALSE(RowsFilled(px, L.map, colour, 30).empty()) << "class " << i;
    }
    // The squares lie inside the map box with context around them.
    EXPECT_LT(L.view.xmin, -0.4);
    EXPECT_GT(L.view.xmax, 10.4);
    EXPECT_TRUE(RowsFilled(px, L.title, {255, 255, 255}, int(L.title.w)).size() < size_t(L.title.h));  // a title is there
    // The same entries as the legend reports.
    auto entries = MapLegend(m.map);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].kind, LegendEntry::kHeading);
    EXPECT_EQ(entries[0].label, "Young families");
    EXPECT_EQ(entries[1].label, m.Classes().labels[0]);
    EXPECT_EQ(entries[5].label, m.Classes().labels[4]);
}

TEST(MapPicture, LegendAndCreditFollowTheVisibleLayers) {
    pxtest::ScratchDir dir;
    ResultMap m(dir);
    auto hidden = std::make_shared<FeatureLayer>();
    hidden->featureClass = m.result->featureClass;
    hidden->name = "Hidden";
    hidden->visible = false;
    auto group = std::make_shared<GroupLayer>();
    group->name = "Analysis";
    auto match = std::make_shared<FeatureLayer>();
    match->featureClass = m.result->featureClass;
    match->name = "Matches";
    auto simple = std::make_shared<SimpleRenderer>();
    simple->fill = {0, 255, 0};
    simple->label = "Match";
    match->renderer = simple;
    group->Add(match);
    m.map.AddLayer(hidden);
    m.map.AddLayer(group);
    std::vector<std::string> labels;
    for (auto& e : MapLegend(m.map)) labels.push_back(e.label);
    ASSERT_EQ(labels.size(), 8u);
    EXPECT_EQ(labels[6], "Matches");
    EXPECT_EQ(labels[7], "Match");
    // One source named once; the map's credit and the composition's win.
    EXPECT_EQ(MapAttribution(m.map, {}), "Data: squares.shp");
    m.map.attribution = "Counts © Quillon";
    EXPECT_EQ(MapAttribution(m.map, {}), "Counts © Quillon");
    EXPECT_EQ(MapAttribution(m.map, {"", "Own survey"}), "Own survey");
    // Hiding the group empties its part of the legend.
    group->visible = false;
    EXPECT_EQ(MapLegend(m.map).size(), 6u);
}

TEST(MapPicture, PixelsOfTheCallerEqualThePng) {
    pxtest::ScratchDir dir;
    ResultMap m(dir);
    m.result->selection = {2};
    MapComposition c{"Ñandú ☃", ""};
    const int w = 640, h = 400, stride = w * 4 + 16;  // rows may be padded
    std::vector<unsigned char> buffer(size_t(stride) * h, 0xAB);
    RenderMapToBuffer(m.map, buffer.data(), w, h, stride, c);
    std::string png = dir / "same.png";
    RenderMapToPng(m.map, png, w, h, c);
    Pixels px = ReadPng(png);
    ASSERT_EQ(px.width, w);
    long differ = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t argb;
            std::memcpy(&argb, &buffer[size_t(y) * stride + size_t(x) * 4], 4);
            auto& p = px.rgba[size_t(y) * w + x];
            std::array<GByte, 4> want{GByte(argb >> 16), GByte(argb >> 8), GByte(argb), GByte(argb >> 24)};
            differ += want != p;
        }
    EXPECT_EQ(differ, 0);
    // The padding of the rows is the caller's and stays untouched.
    EXPECT_EQ(buffer[size_t(w) * 4], 0xAB);
}

TEST(MapPicture, SizesItCannotDrawAreRefusedByName) {
    pxtest::ScratchDir dir;
    ResultMap m(dir);
    std::string png = dir / "refused.png";
    for (auto [w, h] : {std::pair{0, 100}, {100, -3}, {20001, 10}, {15000, 15000}}) {
        try {
            RenderMapToPng(m.map, png, w, h);
            ADD_FAILURE() << w << " x " << h << " was drawn";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(std::to_string(w) + " x " + std::to_string(h)), std::string::npos)
                << e.what();
        }
    }
    EXPECT_FALSE(fs::exists(png));
    std::vector<unsigned char> small(100 * 4 * 10);
    EXPECT_THROW(RenderMapToBuffer(m.map, small.data(), 100, 10, 399), std::exception);  // rows too short
    EXPECT_THROW(RenderMapToBuffer(m.map, nullptr, 100, 10, 400), std::exception);
    EXPECT_THROW(RenderMapToPdf(m.map, dir / "refused.pdf", 0, 500), std::exception);
    EXPECT_THROW(RenderMapToPdf(m.map, dir / "refused.pdf", 600, 20000), std::exception);
    EXPECT_FALSE(fs::exists(dir / "refused.pdf"));
    // A place that cannot hold a file is named in the error.
    std::ofstream(dir / "file") << "x";
    try {
        RenderMapToPng(m.map, dir / "file/map.png", 100, 100);
        ADD_FAILURE() << "a picture was written under a file";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("file/map.png"), std::string::npos) << e.what();
    }
}

TEST(MapPicture, ThePdfPageCarriesTitleLegendScaleAndCreditAsText) {
    if (!HavePdfToText()) GTEST_SKIP() << "pdftotext not installed";
    pxtest::ScratchDir dir;
    ResultMap m(dir);
    std::string pdf = dir / "map.pdf";
    RenderMapToPdf(m.map, pdf, 792, 612, {"Bevölkerung über 65 – Ñandú", ""});
    std::string text = pxtest::PdfText(pdf);
    EXPECT_NE(text.find("Bevölkerung über 65 – Ñandú"), std::string::npos) << text;
    EXPECT_NE(text.find("Young families"), std::string::npos) << text;
    EXPECT_NE(text.find(m.Classes().labels[4]), std::string::npos) << text;
    EXPECT_NE(text.find("Data: squares.shp"), std::string::npos) << text;
    EXPECT_NE(text.find(" km"), std::string::npos) << text;  // the scale bar, in kilometres at this size
}

TEST(ScaleBar, GroundDistanceAndRoundLengths) {
    auto wgs84 = SpatialReference::FromEPSG(4326);
    // A degree of longitude on the WGS 84 ellipsoid: 111.32 km at the
    // equator, 55.80 km at 60 degrees north.
    EXPECT_NEAR(GroundMetresPerUnit(wgs84, -79, 0), 111319.5, 1);
    EXPECT_NEAR(GroundMetresPerUnit(wgs84, -79, 60), 55800, 5);
    EXPECT_NEAR(GroundMetresPerUnit(wgs84, 10, -60), GroundMetresPerUnit(wgs84, -79, 60), 1e-6);
    EXPECT_DOUBLE_EQ(GroundMetresPerUnit(SpatialReference::FromEPSG(32617), 500000, 4e6), 1);
    EXPECT_NEAR(GroundMetresPerUnit(SpatialReference::FromEPSG(2264), 0, 0), 0.3048006, 1e-7);  // US survey feet
    EXPECT_EQ(GroundMetresPerUnit(nullptr, 0, 0), 0);
    EXPECT_EQ(RoundScaleLength(1234), 1000);
    EXPECT_EQ(RoundScaleLength(4999), 2000);
    EXPECT_EQ(RoundScaleLength(5000), 5000);
    EXPECT_EQ(RoundScaleLength(0.7), 0.5);
    EXPECT_EQ(RoundScaleLength(0), 0);
    EXPECT_EQ(ScaleLabel(20000), "20 km");
    EXPECT_EQ(ScaleLabel(500), "500 m");
    EXPECT_EQ(ScaleLabel(0.5), "0.5 m");
}

TEST(MapPicture, TheHouseholdRampStandsOutFromTheBasemap) {
    if (!pxtest::HaveSample()) GTEST_SKIP() << "sample data not fetched";
    pxtest::ScratchDir dir;
    auto s = host::HostSession::Open(pxtest::SourceDir() + "/data/nc.xml", dir / "analyses");
    s.AddBasemap();
    auto basemap = std::dynamic_pointer_cast<FeatureLayer>(s.application->FocusMap()->GetLayer(0));
    ASSERT_TRUE(basemap);
    Rgb base = basemap->renderer->FillFor(*basemap->featureClass->Search(nullptr, false)->NextRow());
    ResultMap m(dir);
    // Every class, the palest too, is far from the basemap's fill.
    for (Rgb c : m.Classes().colors) {
        double d = std::sqrt(std::pow(c.r - base.r, 2) + std::pow(c.g - base.g, 2) + std::pow(c.b - base.b, 2));
        EXPECT_GT(d, 40) << c.r << "," << c.g << "," << c.b;
    }
}

}  // namespace
