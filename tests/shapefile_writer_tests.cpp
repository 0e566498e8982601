// The shapefile writer and the straight reader of polygon records against
// GDAL: the same rows, read from the same polygon shapefile, written once
// through a layer and once straight to the files, make the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstring>

#include "TestSupport.h"
#include "host/gis/Gis.h"
#include "host/gis/ShapefileFiles.h"
#include "host/gis/ShapefileWriter.h"

using namespace host;
using namespace host::gis;
namespace fs = std::filesystem;

namespace {

using Ring = std::vector<std::pair<double, double>>;

// A polygon record as another program may have stored it: the rings in the
// given order and orientation, and bounds left at zero.
std::string StoredRecord(const std::vector<Ring>& rings) {
    size_t points = 0;
    for (auto& r : rings) points += r.size();
    std::string b(44 + 4 * rings.size() + 16 * points, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    put32(0, 5);
    put32(36, static_cast<uint32_t>(rings.size()));
    put32(40, static_cast<uint32_t>(points));
    size_t at = 44 + 4 * rings.size(), start = 0;
    for (size_t k = 0; k < rings.size(); ++k) {
        put32(44 + 4 * k, static_cast<uint32_t>(start));
        for (auto [x, y] : rings[k]) {
            std::memcpy(&b[at], &x, 8);
            std::memcpy(&b[at + 8], &y, 8);
            at += 16;
        }
        start += rings[k].size();
    }
    return b;
}

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct ShapefileWriterTest : ::testing::Test {
    void SetUp() override {
        RegisterHostClasses();
        wgs = SpatialReference::FromEPSG(4326);
        ws = Workspace::OpenFolder(dir / "");
    }
    // The household output's fields: a key and three counts.
    FeatureClassPtr NewLayer(const std::string& name) {
        Fields f;
        auto shape = NewField("SHAPE", kFieldGeometry, "geometry");
        shape->geometryDef.type = kGeomPolygon;
        shape->geometryDef.spatialReference = wgs;
        f.AddField(shape);
        f.AddField(NewField("KEY", kFieldString, "KEY", 12));
        f.AddField(NewField("TOTREAD", kFieldDouble, "TOTREAD", 11, 11, 0));
        f.AddField(NewField("TOTAL", kFieldDouble, "TOTAL", 11, 11, 0));
        f.AddField(NewField("PERCENT", kFieldDouble, "PERCENT", 20, 19, 2));
        return ws->CreateFeatureClass(name, f, "SHAPE");
    }
    pxtest::ScratchDir dir;
    SpatialReferencePtr wgs;
    WorkspacePtr ws;
};

const Ring kSquareCw = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
const Ring kSquareCcw = {{2, 0}, {3, 0}, {3, 1}, {2, 1}, {2, 0}};
const Ring kOpen = {{4, 0}, {5, 0}, {4.5, 1}};
const Ring kBigCw = {{-10, -10}, {-10, 10}, {10, 10}, {10, -10}, {-10, -10}};
const Ring kHoleCcw = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
const Ring kFarCw = {{100, 40}, {100, 41}, {101, 41}, {101, 40}, {100, 40}};

TEST_F(ShapefileWriterTest, WritesTheFilesGdalWritesForTheSameRows) {
    // The areas, stored as other programs store them: rings turned either
    // way, an open ring, a hole, a small part listed before a large one,
    // and a record without shape.
    std::vector<std::string> stored = {StoredRecord({kSquareCw}),           StoredRecord({kSquareCcw}),
                                       StoredRecord({kOpen}),               StoredRecord({kBigCw, kHoleCcw}),
                                       StoredRecord({kFarCw, kBigCw}),      std::string(4, '\0'),
                                       StoredRecord({{{1e7, -4e6}, {1e7 + 0.125, -4e6}, {1e7, -4e6 + 0.5}, {1e7, -4e6}}})};
    std::vector<std::string> keys = {"A01", "Zürich-Öst", "  padded", "a key longer than twelve", "", "Null", "Far"};
    {
        auto areas = NewLayer("areas");
        auto writer = ShapefileWriter::Open(*areas);
        ASSERT_TRUE(writer);
        for (size_t i = 0; i < stored.size(); ++i) {
            writer->SetText(writer->FindField("KEY"), keys[i]);
            writer->Append(stored[i]);
        }
        writer->Finish();
    }
    auto areas = ws->OpenFeatureClass("areas");
    // Counts as the household join writes them: large, negative, too wide
    // for their field, and shares with decimals.
    const double counts[][3] = {{99999999999, -12345, 12.345},   {0, 0, 0},      {-1, 2.5, -0.005},
                                {1e15, 7, 100.0 / 3},            {3, 1, 33.335}, {12, 5, 41.666666},
                                {-99999999999, 1, -1e17}};

    // Through the layer: a cursor reads each area, an insert cursor writes it.
    auto layered = NewLayer("layered");
    {
        auto ins = layered->Insert(true);
        auto buf = ins->CreateBuffer();
        auto c = areas->Search(nullptr, false);
        size_t i = 0;
        while (auto row = c->NextRow()) {
            if (row->ShapeRef()) buf->SetShapeCopyFrom(*row);
            else buf->SetValue(1, Variant(nullptr));
            buf->SetValue(2, row->Value(areas->FindField("KEY")));
            for (int k = 0; k < 3; ++k) buf->SetValue(3 + k, counts[i][k]);
            ins->Insert(*buf);
            ++i;
        }
        ins->Flush();
    }
    // Straight: the stored records copied, or what the layer reads of them.
    {
        auto straight = NewLayer("straight");
        auto writer = ShapefileWriter::Open(*straight);
        ASSERT_TRUE(writer);
        auto records = ShapefileRecords::Open(*areas, areas->FindField("KEY"));
        ASSERT_TRUE(records);
        PolygonRecords polygons;
        std::string record;
        size_t i = 0, copied = 0;
        while (records->Next()) {
            auto row = areas->GetRow(records->Oid());
            writer->SetText(writer->FindField("KEY"), row->Value(areas->FindField("KEY")).ToString());
            const char* names[] = {"TOTREAD", "TOTAL", "PERCENT"};
            for (int k = 0; k < 3; ++k) writer->SetNumber(writer->FindField(names[k]), counts[i][k]);
            if (PolygonRecords::FromStoredRing(records->Shape(), record)) {
                ++copied;
            } else {
                record = row->ShapeRef() ? polygons.FromShape(*row->ShapeRef()) : "";
            }
            writer->Append(record);
            ++i;
        }
        EXPECT_EQ(i, stored.size());
        EXPECT_EQ(copied, 3u);  // the two squares and the far triangle
        writer->Finish();
    }
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj"}) {
        std::string a = Bytes(dir / (std::string("layered") + ext)), b = Bytes(dir / (std::string("straight") + ext));
        if (std::string(ext) == ".dbf") {
            ASSERT_GT(a.size(), 4u);
            ASSERT_GT(b.size(), 4u);
            a.replace(1, 3, "ymd");  // the day it was written
            b.replace(1, 3, "ymd");
        }
        EXPECT_EQ(a.size(), b.size()) << ext;
        EXPECT_TRUE(a == b) << ext << " differs";
    }
    EXPECT_EQ(fs::exists(dir / "layered.cpg"), fs::exists(dir / "straight.cpg"));
    // And GDAL reads it back with the values it was given.
    auto back = ws->OpenFeatureClass("straight");
    auto row = back->GetRow(0);
    EXPECT_EQ(row->Value(back->FindField("TOTREAD")).ToDouble(), 99999999999.0);
    EXPECT_DOUBLE_EQ(row->Value(back->FindField("PERCENT")).ToDouble(), 12.35);
    EXPECT_EQ(back->GetRow(1)->Value(back->FindField("KEY")).ToString(), "Zürich-Öst");
    EXPECT_EQ(back->GetRow(3)->Value(back->FindField("KEY")).ToString(), "a key longer");
}

TEST_F(ShapefileWriterTest, AnUnfinishedWriterLeavesTheLayerEmpty) {
    auto layer = NewLayer("dropped");
    {
        auto writer = ShapefileWriter::Open(*layer);
        ASSERT_TRUE(writer);
        writer->SetText(0, "A01");
        writer->Append(StoredRecord({kSquareCw}));
        EXPECT_EQ(writer->Rows(), 1);
    }
    auto back = ws->OpenFeatureClass("dropped");
    EXPECT_EQ(back->RowCount(nullptr), 0);
    EXPECT_EQ(fs::file_size(dir / "dropped.shp"), 100u);
    // A layer that is not empty, or has other fields, is not taken over.
    auto other = NewLayer("other");
    {
        auto ins = other->Insert(true);
        auto buf = ins->CreateBuffer();
        buf->SetShape(*Geometry::MakeEnvelopePolygon({0, 0, 1, 1, false}, wgs));
        ins->Insert(*buf);
        ins->Flush();
    }
    EXPECT_FALSE(ShapefileWriter::Open(*ws->OpenFeatureClass("other")));
}

TEST_F(ShapefileWriterTest, DamagedRecordsAreRefusedByName) {
    auto areas = NewLayer("areas");
    {
        auto writer = ShapefileWriter::Open(*areas);
        for (int i = 0; i < 3; ++i) writer->Append(StoredRecord({kSquareCw}));
        writer->Finish();
    }
    // The last record cut short.
    fs::resize_file(dir / "areas.shp", fs::file_size(dir / "areas.shp") - 20);
    auto cut = ws->OpenFeatureClass("areas");
    auto records = ShapefileRecords::Open(*cut, cut->FindField("KEY"));
    ASSERT_TRUE(records);
    EXPECT_TRUE(records->Next());
    EXPECT_TRUE(records->Next());
    try {
        records->Next();
        FAIL() << "a cut record was read";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("areas.shp is damaged at record 3"), std::string::npos) << e.what();
    }
    // A number with decimals is not a key the reader hands out; a whole one is.
    EXPECT_FALSE(ShapefileRecords::Open(*cut, cut->FindField("PERCENT")));
    EXPECT_TRUE(ShapefileRecords::Open(*cut, cut->FindField("TOTAL")));
}

}  // namespace
