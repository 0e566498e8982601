// Times the household join of a linked result table with one row per block
// group against two peers in the same run: a single scan of the block-group
// polygons, and ogr2ogr doing the same join (see PeerJoin) and writing the
// same output: the areas above the minimum with their counts, as a
// shapefile with its spatial index.
// "nopeer" leaves ogr2ogr out (for the scaling runs).
//   bench_household DATADIR [RUNS] [nopeer]
#include <ogr_geometry.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "PXCP/PXCPHouseholdDataFunction.h"
#include "PXCP/Register.h"
#include "host/forms/ScriptedDriver.h"

namespace fs = std::filesystem;
using namespace host;
using Clock = std::chrono::steady_clock;

namespace {

// The peer: ogr2ogr joins the block groups and the linked table with
// SQLite's own engine and writes a shapefile with the same fields and a
// spatial index, keeping the rows above the minimum as the worker does
// (matches in TQ, households read in TOTAL, share over 50 %). Both tables
// are first loaded, untimed, into one GeoPackage with an index on each
// key: over the shapefiles themselves ogr2ogr's SQLite dialect takes
// minutes for this join. Returns the areas written, -1 on failure; seconds
// gets the time of the one timed run.
long PeerJoin(const std::string& data, const fs::path& work, double& seconds) {
    std::string dir = work.string(), gpkg = dir + "/peer.gpkg";
    for (const std::string& cmd :
         {"ogr2ogr -f GPKG '" + gpkg + "' '" + data + "/blockgroups.shp' -nln blockgroups",
          "ogr2ogr -update '" + gpkg + "' '" + dir + "/result.dbf' -nln result",
          "ogrinfo -q '" + gpkg + "' -sql 'CREATE INDEX result_geog ON result(GEOG)'",
          "ogrinfo -q '" + gpkg + "' -sql 'CREATE INDEX blockgroups_geoid ON blockgroups(GEOID)'"})
        if (std::system((cmd + " > /dev/null").c_str()) != 0) return -1;
    const std::string sql =
        "SELECT b.geom, r.GEOG AS KEY, CAST(r.TOTAL AS REAL) AS TOTREAD, CAST(r.TQ AS REAL) AS TOTAL, "
        "r.TQ * 100.0 / r.TOTAL AS PERCENT FROM result r JOIN blockgroups b ON b.GEOID = r.GEOG "
        "WHERE r.TOTAL > 0 AND r.TQ * 100.0 / r.TOTAL > 50";
    std::string cmd = "ogr2ogr -f 'ESRI Shapefile' -lco DBF_EOF_CHAR=NO -lco SPATIAL_INDEX=YES -nln peer '" + dir +
                      "/peer.shp' '" + gpkg + "' -sql \"" + sql + "\"";
    auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return gis::Workspace::OpenFolder(dir)->OpenFeatureClass("peer")->RowCount(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_household DATADIR [RUNS]\n");
        return 2;
    }
    std::string data = fs::absolute(argv[1]).string();
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    bool peerWanted = !(argc > 3 && std::string(argv[3]) == "nopeer");
    if (!fs::exists(data + "/blockgroups.shp")) {
        std::fprintf(stderr, "no blockgroups.shp in %s (run gen_blockgroups first)\n", data.c_str());
        return 1;
    }
    RegisterHostClasses();
    pxcp::RegisterPXCPClasses();
    forms::SetDriver(std::make_shared<forms::ScriptedDriver>());
    FunctionRunner::SetSink(MakeSilentProgress());
    auto areas = gis::Workspace::OpenFolder(data)->OpenFeatureClass("blockgroups");
    long geoid = areas->FindField("GEOID");

    fs::path work = fs::temp_directory_path() / "pxcp-bench-household";
    fs::remove_all(work);
    fs::create_directories(work);
    // The table a person links: GEOG, matches in TQ, households read in TOTAL.
    {
        gis::Fields f;
        f.AddField(gis::NewField("GEOG", gis::kFieldString, "", 12));
        f.AddField(gis::NewField("TQ", gis::kFieldInteger));
        f.AddField(gis::NewField("TOTAL", gis::kFieldInteger));
        auto table = gis::Workspace::OpenFolder(work.string())->CreateTable("result", f);
        auto ins = table->Insert(true);
        auto buf = ins->CreateBuffer();
        std::mt19937 rng(7);
        gis::QueryFilter keys;
        keys.subFields = "GEOID";
        auto c = areas->Search(&keys, true);
        while (auto row = c->NextRow()) {
            long read = 200 + static_cast<long>(rng() % 3000);
            buf->SetValue(1, row->Value(geoid).ToString());
            buf->SetValue(2, static_cast<long>(rng() % (read + 1)));
            buf->SetValue(3, read);
            ins->Insert(*buf);
        }
        ins->Flush();
    }
    long rows = gis::Workspace::OpenFolder(work.string())->OpenTable("result")->RowCount(nullptr);

    double best = 1e30, bestScan = 1e30;
    long written = 0;
    for (int r = 0; r < runs; ++r) {
        fs::path out = work / ("out" + std::to_string(r));
        fs::create_directories(out);
        pxcp::PXCPHouseholdDataFunction f;
        f.Init();
        auto set = [&](const char* k, Variant v) { f.SetParam(k, v); };
        set("AnalysisFeatureclassName", "Result");
        set("AnalysisWorkspace", gis::Workspace::OpenFolder(out.string()));
        set("AnalysisDir", out.string() + "/");
        set("GeogField", "CENSUSBLOCKGROUP");
        set("DatasetID", "Bench");
        set("KeyField", "GEOID");
        set("IsNumberTarget", false);
        set("MinimumTarget", 50.0);
        set("Wait", true);
        set("LinkDBF", true);
        set("DBFFilePath", (work / "result.dbf").string());
        set("MainLayerName", "blockgroups");
        set("MainFeatureClass", gis::Workspace::OpenFolder(data)->OpenFeatureClass("blockgroups"));
        set("DefaultSR", gis::SpatialReference::FromEPSG(4269));
        auto t0 = Clock::now();
        if (FunctionRunner().Run(f, "Clock AVI", "Analysis", "Joining") != FunctionRunner::kCompleted || f.LastError()) {
            std::fprintf(stderr, "the join failed: %s\n", f.ErrorText().c_str());
            return 1;
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
        written = f.Written();

        // The peer: one pass over every polygon with its shape and key.
        t0 = Clock::now();
        gis::QueryFilter all;
        all.subFields = "GEOID";
        long n = 0;
        double sink = 0;
        auto c = gis::Workspace::OpenFolder(data)->OpenFeatureClass("blockgroups")->Search(&all, true);
        while (auto row = c->NextRow()) {
            ++n;
            if (auto* g = row->ShapeRef()) sink += g->IsEmpty() ? 0 : 1;
        }
        bestScan = std::min(bestScan, std::chrono::duration<double>(Clock::now() - t0).count());
        if (n != rows || sink < 0) std::fprintf(stderr, "scan saw %ld polygons\n", n);
    }
    std::printf("result rows: %ld, areas written: %ld\n", rows, written);
    std::printf("join: %.3f s (best of %d), %.0f rows/s\n", best, runs, static_cast<double>(rows) / best);
    std::printf("single scan of the polygons: %.3f s (best of %d)\n", bestScan, runs);
    std::printf("ratio join/scan: %.2f (target <= 3)\n", best / bestScan);

    if (!peerWanted) {
        fs::remove_all(work);
        return 0;
    }
    double peer = 0;
    long peerWritten = PeerJoin(data, work, peer);
    if (peerWritten < 0) {
        std::fprintf(stderr, "ogr2ogr failed\n");
        return 1;
    }
    std::printf("ogr2ogr join (GeoPackage, indexed keys): %.3f s, %ld areas written%s\n", peer, peerWritten,
                peerWritten == written ? "" : " (differs)");
    std::printf("ratio join/ogr2ogr: %.3f (target < 1)\n", best / peer);
    fs::remove_all(work);
    return 0;
}
