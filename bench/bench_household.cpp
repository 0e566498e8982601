// Times the household join of a linked result table with one row per block
// group against two peers in the same run: a single scan of the block-group
// polygons, and ogr2ogr doing the same join (see PeerJoin) and writing the
// same output: the areas above the minimum with their counts, as a
// shapefile with its spatial index.
// "nopeer" leaves ogr2ogr out (for the scaling runs).
//
// Then the same join with the counts from the household-data service: a
// local plexa-hhd is started, the function sends it the 220,000 keys,
// waits, fetches the table and joins it; the client's exchange alone
// (submit, wait, fetch) is timed too, with the peak memory of this process
// and of the service. "--service-only N" does just that exchange for N
// made-up block-group keys, without shapes (the levels of millions).
//   bench_household DATADIR [RUNS] [nopeer]
//   bench_household --service-only N
#include <ogr_geometry.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "PXCP/PXCPHouseholdDataFunction.h"
#include "PXCP/Register.h"
#include "host/forms/ScriptedDriver.h"
#include "service/HouseholdDataClient.h"

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

// A local household-data service for the run: started on a free port of
// 127.0.0.1, its jobs done at the first poll, stopped with the object.
class LocalService {
public:
    LocalService() {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execl(PLEXA_HHD_PATH, PLEXA_HHD_PATH, "--port", "0", "--job-seconds", "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        // Its log is read away so that it never blocks on a full pipe.
        if (fork() == 0) {
            while (read(out[0], &c, 1) == 1) {
            }
            _exit(0);
        }
        close(out[0]);
        if (line.rfind("listening on ", 0) != 0) throw std::runtime_error("plexa-hhd did not start: " + line);
        host_ = line.substr(13);
        setenv("PLEXA_HOUSEHOLD_SERVICE", host_.c_str(), 1);
    }
    ~LocalService() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& Host() const { return host_; }
    int Pid() const { return pid_; }

private:
    int pid_ = -1;
    std::string host_;
};

// The peak resident size of a process in MB (VmHWM), 0 when unknown.
double PeakMb(const std::string& pid = "self") {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

// Starts this process's peak anew (Linux 4.0 and later), so that what is
// measured next is not hidden by what came before.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double ResidentMb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

// The client's exchange alone: the area list submitted, the job followed,
// the table fetched to path. Returns the seconds it took, negative (with
// a message) when it failed.
double ServiceExchange(const std::string& service, const std::string& areas, const std::string& path) {
    auto t0 = Clock::now();
    pxcp::HouseholdDataClient client;
    client.SetGeography("CENSUSBLOCKGROUP", areas);
    client.SetQuery("AGE", "1,2");
    if (client.Submit(service, "velmar/QuISAPISOAPGateWay.dll", path, "EXPERIAN", true, "demo", "demo", "Bench") != "1") {
        std::fprintf(stderr, "the submission failed: %s\n", client.LastMessage().c_str());
        return -1;
    }
    try {
        while (client.GetStatus() != 1) {
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the job failed: %s\n", e.what());
        return -1;
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// "--service-only N": N made-up 12-digit block-group keys through the
// client and the service.
int ServiceOnly(long n) {
    fs::path work = fs::temp_directory_path() / "pxcp-bench-household-service";
    fs::remove_all(work);
    fs::create_directories(work);
    double base = ResidentMb();
    ResetPeak();
    std::string areas;
    areas.reserve(static_cast<size_t>(n) * 15);
    for (long i = 0; i < n; ++i) {
        areas += i ? ",\"" : "\"";
        areas += std::to_string(100000000000LL + 1000LL * (i / 4) + i % 4);
        areas += '"';
    }
    LocalService service;
    double seconds = ServiceExchange(service.Host(), areas, (work / "result.dbf").string());
    if (seconds < 0) return 1;
    uintmax_t table = fs::file_size(work / "result.dbf");
    std::printf("service exchange, %ld areas (%.1f MB of keys): %.3f s, result table %.1f MB\n", n,
                static_cast<double>(areas.size()) / (1 << 20), seconds, static_cast<double>(table) / (1 << 20));
    std::printf("peak memory: client %.0f MB (%.0f MB before), service %.0f MB\n", PeakMb(), base,
                PeakMb(std::to_string(service.Pid())));
    fs::remove_all(work);
    return 0;
}

}  // namespace

// What both runs of the join are given alike: where the result goes, the
// level and its key, the minimum, and that the run waits for its counts.
static void SetJoinParams(pxcp::PXCPHouseholdDataFunction& f, const fs::path& out, const std::string& data) {
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
    set("MainLayerName", "blockgroups");
    set("MainFeatureClass", gis::Workspace::OpenFolder(data)->OpenFeatureClass("blockgroups"));
    set("DefaultSR", gis::SpatialReference::FromEPSG(4269));
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--service-only") return ServiceOnly(std::atol(argv[2]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_household DATADIR [RUNS] [nopeer]\n       bench_household --service-only N\n");
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
        SetJoinParams(f, out, data);
        set("LinkDBF", true);
        set("DBFFilePath", (work / "result.dbf").string());
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

    // The same join with the counts from the service: the whole run of the
    // function (keys, submission, wait, fetch, join), and the client's
    // exchange alone.
    {
        LocalService service;
        double bestTrip = 1e30, bestExchange = 1e30, tripPeak = 0, exchangePeak = 0;
        long tripWritten = 0;
        std::string keys;
        for (int r = 0; r < runs; ++r) {
            fs::path out = work / ("service" + std::to_string(r));
            fs::create_directories(out);
            pxcp::PXCPHouseholdDataFunction f;
            f.Init();
            auto set = [&](const char* k, Variant v) { f.SetParam(k, v); };
            SetJoinParams(f, out, data);
            set("QFields", "AGE");
            set("QList", "1,2");
            set("UserName", "demo");
            set("Password", "demo");
            set("AnalysisName", "Bench");
            ResetPeak();
            auto t0 = Clock::now();
            if (FunctionRunner().Run(f, "Clock AVI", "Analysis", "Joining") != FunctionRunner::kCompleted || f.LastError()) {
                std::fprintf(stderr, "the join through the service failed: %s\n", f.ErrorText().c_str());
                return 1;
            }
            bestTrip = std::min(bestTrip, std::chrono::duration<double>(Clock::now() - t0).count());
            tripPeak = std::max(tripPeak, PeakMb());
            tripWritten = f.Written();

            if (keys.empty()) {
                gis::QueryFilter k;
                k.subFields = "GEOID";
                auto c = areas->Search(&k, true);
                while (auto row = c->NextRow()) keys += (keys.empty() ? "\"" : ",\"") + row->Value(geoid).ToString() + "\"";
            }
            ResetPeak();
            double exchange = ServiceExchange(service.Host(), keys, (out / "exchange.dbf").string());
            if (exchange < 0) return 1;
            bestExchange = std::min(bestExchange, exchange);
            exchangePeak = std::max(exchangePeak, PeakMb());
        }
        std::printf("join through the service (keys, submit, wait, fetch, join): %.3f s (best of %d), %ld areas written\n",
                    bestTrip, runs, tripWritten);
        std::printf("  of which the client's exchange (submit %zu areas, wait, fetch): %.3f s\n",
                    static_cast<size_t>(rows), bestExchange);
        std::printf("  peak memory: the whole run %.0f MB, the exchange %.0f MB, the service %.0f MB\n", tripPeak,
                    exchangePeak, PeakMb(std::to_string(service.Pid())));
        std::printf("ratio service join/linked join: %.2f\n", bestTrip / best);
    }

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
