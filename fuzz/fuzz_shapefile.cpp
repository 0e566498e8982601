// A shapefile's .shp as the profile and the household join read it
// straight from the file: the polygons of the areas with a count or a key
// of their table, and the customers' points. The bytes replace the .shp of
// a small polygon layer and of a small point layer after GDAL opened them,
// so that the readers, not GDAL, meet whatever the file holds; a damaged
// file is refused with an error, never read past its end.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "host/gis/Gis.h"
#include "host/gis/PointIndex.h"
#include "host/gis/ShapefileFiles.h"
#include "host/gis/ShapefileWriter.h"

namespace fs = std::filesystem;
using namespace host;
using namespace host::gis;

namespace {

SpatialReferencePtr g_wgs;

// Three unit squares with a count, and three points: the layers whose .shp
// each input stands in for.
void MakeTemplates(const fs::path& dir) {
    auto ws = Workspace::OpenFolder(dir.string());
    for (bool points : {false, true}) {
        Fields f;
        auto shape = NewField("shape", kFieldGeometry);
        shape->geometryDef.type = points ? kGeomPoint : kGeomPolygon;
        shape->geometryDef.spatialReference = g_wgs;
        f.AddField(shape);
        f.AddField(NewField("POP", kFieldInteger));
        f.AddField(NewField("NAME", kFieldString, "", 8));
        auto fc = ws->CreateFeatureClass(points ? "points" : "areas", f, "shape");
        auto ins = fc->Insert(true);
        auto buf = ins->CreateBuffer();
        for (int i = 0; i < 3; ++i) {
            if (points) buf->SetShape(*Geometry::FromWkt("POINT (" + std::to_string(i) + ".5 0.5)", g_wgs));
            else buf->SetShape(*Geometry::MakeEnvelopePolygon({double(i), 0, double(i) + 1, 1, false}, g_wgs));
            buf->SetValue(2, 100 * (i + 1));
            buf->SetValue(3, "area " + std::to_string(i));
            ins->Insert(*buf);
        }
        ins->Flush();
    }
}

// A fresh copy of a template layer, opened, with its .shp then replaced by
// the input.
FeatureClassPtr OpenWithShp(const std::string& name, const uint8_t* data, size_t size) {
    fs::path from = pxfuzz::Scratch() / "templates", to = pxfuzz::Scratch() / "input";
    fs::remove_all(to);
    fs::create_directories(to);
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
        fs::copy_file(from / (name + ext), to / (name + ext));
    auto fc = Workspace::OpenFolder(to.string())->OpenFeatureClass(name);
    {
        std::ofstream out(to / (name + ".new"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    fs::rename(to / (name + ".new"), to / (name + ".shp"));
    return fc;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pxfuzz::SetUpHost();
    g_wgs = SpatialReference::FromEPSG(4326);
    fs::create_directories(pxfuzz::Scratch() / "templates");
    MakeTemplates(pxfuzz::Scratch() / "templates");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        auto areas = OpenWithShp("areas", data, size);
        try {
            if (auto reader = ShapefilePolygons::Open(*areas, {areas->FindField("POP")})) {
                // Half the areas through a filter, to reach the skipping of records too.
                Envelope filter{0, 0, 1.5, 1, false};
                for (int n = 0; reader->Next(n % 2 ? filter : Envelope{}); ++n) {
                    (void)reader->Value(0);
                    PreparedPolygon polygon;
                    polygon.Assign(reader->xy(), reader->partStarts());
                    (void)polygon.Intersects(0.5, 0.5);
                }
            }
        } catch (const RuntimeError&) {
            // A damaged file is refused by record.
        }
        try {
            // The household join's reading: each record where the index
            // says it is, carried over as it will be written.
            if (auto records = ShapefileRecords::Open(*areas, areas->FindField("NAME"))) {
                std::string record;
                while (records->Next())
                    if (PolygonRecords::FromStoredRing(records->Shape(), record) && record.size() < 48)
                        pxfuzz::Violated("a carried record shorter than its header");
            }
        } catch (const RuntimeError&) {
        }
        auto points = OpenWithShp("points", data, size);
        long last = -1;
        std::vector<PointGrid::Point> read;
        ReadShapefilePoints(*points, [&](const OidPoint& p) {
            if (p.oid <= last) pxfuzz::Violated("points out of order");
            last = p.oid;
            read.push_back({p.x, p.y, static_cast<uint32_t>(p.oid)});
        });
        // Filed as the profile files the customers, and looked up by area.
        size_t count = read.size(), offered = 0;
        PointGrid grid(std::move(read));
        grid.ForEachNear(Envelope{0, 0, 1.5, 1, false}, [&](const PointGrid::Point&) { ++offered; });
        if (grid.Size() != count || offered > count) pxfuzz::Violated("the grid lost or made points");
    }
    pxfuzz::ForgetLogs();
    return 0;
}
