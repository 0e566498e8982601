// Times the demographic worker against ogr2ogr doing the same selection
// (-where, -spat, -select) on the same data in the same run.
//   bench_demographic DATADIR [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "PXCP/PXCPDemographicDataFunction.h"
#include "PXCP/Register.h"
#include "host/framework/HostSession.h"

namespace fs = std::filesystem;
using namespace host;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_demographic DATADIR [RUNS]\n");
        return 2;
    }
    std::string data = fs::absolute(argv[1]).string();
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!fs::exists(data + "/blockgroups.shp")) {
        std::fprintf(stderr, "no blockgroups.shp in %s (run gen_blockgroups first)\n", data.c_str());
        return 1;
    }
    fs::path work = fs::temp_directory_path() / "pxcp-bench-demographic";
    fs::remove_all(work);
    fs::create_directories(work);
    std::string config = (work / "config.xml").string();
    std::ofstream(config) << "<PlexaConfiguration currentDataset=\"Bench\"><Dataset name=\"Bench\" data=\"" << data
                          << "\"><Layer name=\"BG\" dataset=\"blockgroups\"/></Dataset></PlexaConfiguration>";
    auto s = HostSession::Open(config, (work / "analyses").string());
    pxcp::RegisterPXCPClasses();
    const std::string where = " (AGE2534>=(15.00/100)*TOTPOP AND AGE2534<=(20.00/100)*TOTPOP) AND  (INC50K>=200.00) ";
    const double xmin = -93, ymin = 31, xmax = -80, ymax = 39;
    s.extension->SetBoundingGeometry(
        gis::Geometry::MakeEnvelopePolygon({xmin, ymin, xmax, ymax, false}, gis::SpatialReference::FromEPSG(4269)));

    double best = 1e30, bestPeer = 1e30;
    long written = 0;
    for (int r = 0; r < runs; ++r) {
        fs::path out = work / ("ours" + std::to_string(r));
        fs::create_directories(out);
        auto f = std::make_shared<pxcp::PXCPDemographicDataFunction>();
        f->Init();
        auto layer = std::make_shared<DatasetLayer>();
        layer->datasetName = "blockgroups";
        auto set = [&](const char* k, Variant v) { f->SetParam(k, v); };
        set("IApplication", s.application);
        set("IPXDataManager", s.dataManager);
        set("AnalysisWorkspace", gis::Workspace::OpenFolder(out.string()));
        set("AnalysisFeatureclassName", "Result");
        set("QueryString", where);
        set("AllFieldsCol", std::make_shared<StringList>(std::vector<std::string>{"AGE2534", "INC50K"}));
        set("AdditionalFields", std::make_shared<StringList>(std::vector<std::string>{"GEOID", "TOTPOP"}));
        set("MainDSLayer", layer);
        auto t0 = Clock::now();
        f->Start();
        f.reset();  // closes the output
        double t = std::chrono::duration<double>(Clock::now() - t0).count();
        if (r == 0) {
            auto fc = gis::Workspace::OpenFolder(out.string())->OpenFeatureClass("Result");
            written = fc->RowCount(nullptr);
        }
        best = std::min(best, t);

        fs::path peer = work / ("peer" + std::to_string(r) + ".shp");
        char cmd[2048];
        std::snprintf(cmd, sizeof cmd,
                      "ogr2ogr -f 'ESRI Shapefile' '%s' '%s/blockgroups.shp' -where '%s' -spat %g %g %g %g "
                      "-select GEOID,TOTPOP,AGE2534,INC50K -lco SPATIAL_INDEX=YES",
                      peer.c_str(), data.c_str(), where.c_str(), xmin, ymin, xmax, ymax);
        t0 = Clock::now();
        if (std::system(cmd) != 0) {
            std::fprintf(stderr, "ogr2ogr failed\n");
            return 1;
        }
        bestPeer = std::min(bestPeer, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::printf("areas written: %ld\n", written);
    std::printf("worker:  %.3f s (best of %d)\n", best, runs);
    std::printf("ogr2ogr: %.3f s (best of %d)\n", bestPeer, runs);
    std::printf("ratio worker/ogr2ogr: %.2f (target <= 1.20)\n", best / bestPeer);
    fs::remove_all(work);
    return 0;
}
